#include "winrt_server/stream_objects.hpp"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "winrt_server/async_operation.hpp"

namespace olvex::test_server {

namespace {

using Bytes = std::vector<BYTE>;

#define OLVEX_ENTER(method)                                                          \
    do {                                                                             \
        if (const HRESULT failed = state().enter(method); FAILED(failed)) return failed; \
    } while (false)

using abi::IByteSource;
using abi::IID_BYTE_SOURCE;

struct StreamOperationTraits {
    static constexpr const char* NAME = "Operation<IRandomAccessStreamWithContentType>";
    static constexpr GUID OPERATION_IID = abi::IID_ASYNC_OPERATION_STREAM;
    static constexpr GUID HANDLER_IID = abi::IID_COMPLETED_HANDLER_STREAM;
};
struct UInt32OperationTraits {
    static constexpr const char* NAME = "Operation<UInt32>";
    static constexpr GUID OPERATION_IID = abi::IID_ASYNC_OPERATION_UINT32;
    static constexpr GUID HANDLER_IID = abi::IID_COMPLETED_HANDLER_UINT32;
};
using StreamOperation = AsyncOperation<abi::IRandomAccessStreamWithContentType*, StreamOperationTraits>;
using LoadOperation = AsyncOperation<UINT32, UInt32OperationTraits>;

class Stream final : public ComObject<Stream, abi::IRandomAccessStreamWithContentType, abi::IRandomAccessStream,
                                      abi::IInputStream, abi::IOutputStream, abi::IContentTypeProvider,
                                      abi::IClosable, IByteSource> {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Windows.Storage.Streams.InMemoryRandomAccessStream";

    Stream(std::shared_ptr<const Bytes> bytes, UINT64 position) : bytes_(std::move(bytes)), position_(position) {}

    void* find_interface(const GUID& iid) {
        if (same_guid(iid, abi::IID_STREAM_WITH_CONTENT_TYPE)) {
            return static_cast<abi::IRandomAccessStreamWithContentType*>(this);
        }
        if (same_guid(iid, abi::IID_RANDOM_ACCESS_STREAM)) return static_cast<abi::IRandomAccessStream*>(this);
        if (same_guid(iid, abi::IID_INPUT_STREAM)) return static_cast<abi::IInputStream*>(this);
        if (same_guid(iid, abi::IID_OUTPUT_STREAM)) return static_cast<abi::IOutputStream*>(this);
        if (same_guid(iid, abi::IID_CONTENT_TYPE_PROVIDER)) return static_cast<abi::IContentTypeProvider*>(this);
        if (same_guid(iid, abi::IID_CLOSABLE)) return static_cast<abi::IClosable*>(this);
        if (same_guid(iid, IID_BYTE_SOURCE)) return static_cast<IByteSource*>(this);
        return nullptr;
    }

    // IRandomAccessStream
    HRESULT __stdcall get_Size(UINT64* size) override {
        OLVEX_ENTER("Stream.get_Size");
        if (size == nullptr) return E_POINTER;
        *size = bytes_->size();
        return S_OK;
    }
    HRESULT __stdcall put_Size(UINT64) override {
        OLVEX_ENTER("Stream.put_Size");
        return E_ACCESSDENIED;
    }
    HRESULT __stdcall GetInputStreamAt(UINT64 position, abi::IInputStream** stream) override {
        OLVEX_ENTER("Stream.GetInputStreamAt");
        if (stream == nullptr) return E_POINTER;
        *stream = static_cast<abi::IInputStream*>(Stream::make(bytes_, position).detach());
        return S_OK;
    }
    HRESULT __stdcall GetOutputStreamAt(UINT64, abi::IOutputStream** stream) override {
        OLVEX_ENTER("Stream.GetOutputStreamAt");
        if (stream != nullptr) *stream = nullptr;
        return E_ACCESSDENIED;
    }
    HRESULT __stdcall get_Position(UINT64* position) override {
        OLVEX_ENTER("Stream.get_Position");
        if (position == nullptr) return E_POINTER;
        const std::lock_guard lock(mutex_);
        *position = position_;
        return S_OK;
    }
    HRESULT __stdcall Seek(UINT64 position) override {
        OLVEX_ENTER("Stream.Seek");
        const std::lock_guard lock(mutex_);
        position_ = position;
        return S_OK;
    }
    HRESULT __stdcall CloneStream(abi::IRandomAccessStream** stream) override {
        OLVEX_ENTER("Stream.CloneStream");
        if (stream == nullptr) return E_POINTER;
        *stream = static_cast<abi::IRandomAccessStream*>(Stream::make(bytes_, UINT64{0}).detach());
        return S_OK;
    }
    HRESULT __stdcall get_CanRead(boolean* value) override {
        OLVEX_ENTER("Stream.get_CanRead");
        if (value == nullptr) return E_POINTER;
        *value = 1;
        return S_OK;
    }
    HRESULT __stdcall get_CanWrite(boolean* value) override {
        OLVEX_ENTER("Stream.get_CanWrite");
        if (value == nullptr) return E_POINTER;
        *value = 0;
        return S_OK;
    }

    // IInputStream
    HRESULT __stdcall ReadAsync(IInspectable*, UINT32, UINT32, IInspectable** operation) override {
        OLVEX_ENTER("Stream.ReadAsync");
        if (operation != nullptr) *operation = nullptr;
        return E_NOTIMPL;
    }
    // IOutputStream
    HRESULT __stdcall WriteAsync(IInspectable*, IInspectable** operation) override {
        OLVEX_ENTER("Stream.WriteAsync");
        if (operation != nullptr) *operation = nullptr;
        return E_ACCESSDENIED;
    }
    HRESULT __stdcall FlushAsync(IInspectable** operation) override {
        OLVEX_ENTER("Stream.FlushAsync");
        if (operation != nullptr) *operation = nullptr;
        return E_ACCESSDENIED;
    }
    // IContentTypeProvider
    HRESULT __stdcall get_ContentType(HSTRING* value) override {
        OLVEX_ENTER("Stream.get_ContentType");
        return make_hstring(L"image/png", value);
    }
    // IClosable
    HRESULT __stdcall Close() override {
        OLVEX_ENTER("Stream.Close");
        return S_OK;
    }
    // IByteSource
    HRESULT __stdcall ReadNext(UINT32 count, Bytes* bytes) override {
        const std::lock_guard lock(mutex_);
        const UINT64 size = bytes_->size();
        const UINT64 from = std::min(position_, size);
        const UINT64 to = std::min<UINT64>(from + count, size);
        bytes->insert(bytes->end(), bytes_->begin() + static_cast<std::ptrdiff_t>(from),
                      bytes_->begin() + static_cast<std::ptrdiff_t>(to));
        position_ = to;
        return S_OK;
    }

private:
    const std::shared_ptr<const Bytes> bytes_;
    std::mutex mutex_;
    UINT64 position_;
};

class StreamReference final : public ComObject<StreamReference, abi::IRandomAccessStreamReference> {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Windows.Storage.Streams.RandomAccessStreamReference";
    explicit StreamReference(std::shared_ptr<const Bytes> bytes) : bytes_(std::move(bytes)) {}
    void* find_interface(const GUID& iid) {
        return same_guid(iid, abi::IID_STREAM_REFERENCE) ? static_cast<abi::IRandomAccessStreamReference*>(this)
                                                         : nullptr;
    }
    HRESULT __stdcall OpenReadAsync(abi::IAsyncOperation<abi::IRandomAccessStreamWithContentType*>** operation) override {
        OLVEX_ENTER("StreamReference.OpenReadAsync");
        if (operation == nullptr) return E_POINTER;
        StreamOperation::Slot result;
        result.value =
            Ref<abi::IRandomAccessStreamWithContentType>::adopt(Stream::make(bytes_, UINT64{0}).detach());
        *operation = StreamOperation::start(std::move(result), "StreamReference.OpenReadAsync").detach();
        return S_OK;
    }

private:
    std::shared_ptr<const Bytes> bytes_;
};

class DataReader final : public ComObject<DataReader, abi::IDataReader, abi::IClosable> {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Windows.Storage.Streams.DataReader";
    explicit DataReader(Ref<abi::IInputStream> input) : input_(std::move(input)) {}

    void* find_interface(const GUID& iid) {
        if (same_guid(iid, abi::IID_DATA_READER)) return static_cast<abi::IDataReader*>(this);
        if (same_guid(iid, abi::IID_CLOSABLE)) return static_cast<abi::IClosable*>(this);
        return nullptr;
    }

    HRESULT __stdcall get_UnconsumedBufferLength(UINT32* value) override {
        OLVEX_ENTER("DataReader.get_UnconsumedBufferLength");
        if (value == nullptr) return E_POINTER;
        const std::lock_guard lock(mutex_);
        *value = static_cast<UINT32>(loaded_.size() - consumed_);
        return S_OK;
    }
    HRESULT __stdcall get_UnicodeEncoding(std::int32_t* value) override { return unsupported("get_UnicodeEncoding", value); }
    HRESULT __stdcall put_UnicodeEncoding(std::int32_t) override { return unsupported("put_UnicodeEncoding"); }
    HRESULT __stdcall get_ByteOrder(std::int32_t* value) override { return unsupported("get_ByteOrder", value); }
    HRESULT __stdcall put_ByteOrder(std::int32_t) override { return unsupported("put_ByteOrder"); }
    HRESULT __stdcall get_InputStreamOptions(UINT32* value) override {
        return unsupported("get_InputStreamOptions", value);
    }
    HRESULT __stdcall put_InputStreamOptions(UINT32) override { return unsupported("put_InputStreamOptions"); }
    HRESULT __stdcall ReadByte(BYTE* value) override {
        OLVEX_ENTER("DataReader.ReadByte");
        return take(1, value);
    }
    HRESULT __stdcall ReadBytes(UINT32 length, BYTE* value) override {
        OLVEX_ENTER("DataReader.ReadBytes");
        return take(length, value);
    }
    HRESULT __stdcall ReadBuffer(UINT32, IInspectable** buffer) override { return unsupported("ReadBuffer", buffer); }
    HRESULT __stdcall ReadBoolean(boolean* value) override { return unsupported("ReadBoolean", value); }
    HRESULT __stdcall ReadGuid(GUID* value) override { return unsupported("ReadGuid", value); }
    HRESULT __stdcall ReadInt16(INT16* value) override { return unsupported("ReadInt16", value); }
    HRESULT __stdcall ReadInt32(INT32* value) override { return unsupported("ReadInt32", value); }
    HRESULT __stdcall ReadInt64(INT64* value) override { return unsupported("ReadInt64", value); }
    HRESULT __stdcall ReadUInt16(UINT16* value) override { return unsupported("ReadUInt16", value); }
    HRESULT __stdcall ReadUInt32(UINT32* value) override { return unsupported("ReadUInt32", value); }
    HRESULT __stdcall ReadUInt64(UINT64* value) override { return unsupported("ReadUInt64", value); }
    HRESULT __stdcall ReadSingle(FLOAT* value) override { return unsupported("ReadSingle", value); }
    HRESULT __stdcall ReadDouble(DOUBLE* value) override { return unsupported("ReadDouble", value); }
    HRESULT __stdcall ReadString(UINT32, HSTRING* value) override { return unsupported("ReadString", value); }
    HRESULT __stdcall ReadDateTime(abi::DateTime* value) override { return unsupported("ReadDateTime", value); }
    HRESULT __stdcall ReadTimeSpan(abi::TimeSpan* value) override { return unsupported("ReadTimeSpan", value); }

    HRESULT __stdcall LoadAsync(UINT32 count, abi::IAsyncOperation<UINT32>** operation) override {
        OLVEX_ENTER("DataReader.LoadAsync");
        if (operation == nullptr) return E_POINTER;
        Ref<IByteSource> source;
        {
            const std::lock_guard lock(mutex_);
            if (!input_) return abi::RO_E_CLOSED;
            void* found = nullptr;
            if (FAILED(input_->QueryInterface(IID_BYTE_SOURCE, &found))) return E_NOTIMPL;
            source = Ref<IByteSource>::adopt(static_cast<IByteSource*>(found));
        }
        Bytes chunk;
        source->ReadNext(std::min(count, state().load_limit()), &chunk);
        LoadOperation::Slot loaded;
        loaded.value = static_cast<UINT32>(chunk.size());
        {
            const std::lock_guard lock(mutex_);
            loaded_.insert(loaded_.end(), chunk.begin(), chunk.end());
        }
        *operation = LoadOperation::start(loaded, "DataReader.LoadAsync").detach();
        return S_OK;
    }
    HRESULT __stdcall DetachBuffer(IInspectable** buffer) override { return unsupported("DetachBuffer", buffer); }
    HRESULT __stdcall DetachStream(abi::IInputStream** stream) override {
        OLVEX_ENTER("DataReader.DetachStream");
        if (stream == nullptr) return E_POINTER;
        const std::lock_guard lock(mutex_);
        *stream = input_.detach();
        return S_OK;
    }
    HRESULT __stdcall Close() override {
        OLVEX_ENTER("DataReader.Close");
        Ref<abi::IInputStream> closed;
        const std::lock_guard lock(mutex_);
        std::swap(closed, input_);
        return S_OK;
    }

private:
    template <class Out>
    static HRESULT unsupported(const char* name, Out* out) {
        OLVEX_ENTER(std::string("DataReader.") + name);
        if (out != nullptr) *out = Out{};
        return E_NOTIMPL;
    }
    static HRESULT unsupported(const char* name) {
        OLVEX_ENTER(std::string("DataReader.") + name);
        return E_NOTIMPL;
    }

    HRESULT take(UINT32 length, BYTE* value) {
        if (value == nullptr && length > 0) return E_POINTER;
        const std::lock_guard lock(mutex_);
        if (length > loaded_.size() - consumed_) return abi::E_BOUNDS;
        std::memcpy(value, loaded_.data() + consumed_, length);
        consumed_ += length;
        return S_OK;
    }

    std::mutex mutex_;
    Ref<abi::IInputStream> input_;
    Bytes loaded_;
    std::size_t consumed_ = 0;
};

class DataReaderFactory final : public ComObject<DataReaderFactory, abi::IActivationFactory,
                                                 abi::IDataReaderFactory, abi::IDataReaderStatics> {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Windows.Storage.Streams.DataReader";
    void* find_interface(const GUID& iid) {
        if (same_guid(iid, abi::IID_ACTIVATION_FACTORY)) return static_cast<abi::IActivationFactory*>(this);
        if (same_guid(iid, abi::IID_DATA_READER_FACTORY)) return static_cast<abi::IDataReaderFactory*>(this);
        if (same_guid(iid, abi::IID_DATA_READER_STATICS)) return static_cast<abi::IDataReaderStatics*>(this);
        return nullptr;
    }
    HRESULT __stdcall ActivateInstance(IInspectable** instance) override {
        OLVEX_ENTER("DataReaderFactory.ActivateInstance");
        if (instance != nullptr) *instance = nullptr;
        return E_NOTIMPL;
    }
    HRESULT __stdcall CreateDataReader(abi::IInputStream* input, abi::IDataReader** reader) override {
        OLVEX_ENTER("DataReaderFactory.CreateDataReader");
        if (reader == nullptr) return E_POINTER;
        if (input == nullptr) return E_INVALIDARG;
        *reader = DataReader::make(Ref<abi::IInputStream>::share(input)).detach();
        return S_OK;
    }
    HRESULT __stdcall FromBuffer(IInspectable*, abi::IDataReader** reader) override {
        OLVEX_ENTER("DataReaderStatics.FromBuffer");
        if (reader != nullptr) *reader = nullptr;
        return E_NOTIMPL;
    }
};

}  // namespace

Ref<abi::IRandomAccessStreamReference> make_stream_reference(std::shared_ptr<const std::vector<BYTE>> bytes) {
    return Ref<abi::IRandomAccessStreamReference>::adopt(StreamReference::make(std::move(bytes)).detach());
}

Ref<abi::IActivationFactory> make_data_reader_factory() {
    return Ref<abi::IActivationFactory>::adopt(DataReaderFactory::make().detach());
}

}  // namespace olvex::test_server
