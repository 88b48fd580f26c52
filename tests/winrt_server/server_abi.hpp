#pragma once
// Interface declarations in the style of the SDK headers (no virtual
// destructors, by ABI necessity).
#pragma GCC system_header

// The Windows Runtime interfaces this test server implements, written out by
// hand for the server alone. The program's backend has its own declarations;
// keeping the two apart lets a slot or IID mistake on either side show up as
// a failing test instead of cancelling out.
//
// Every method is __stdcall and returns HRESULT; slots follow declaration
// order: IInspectable takes slots 0-5, delegates are IUnknown-based and have
// Invoke at slot 3.

#include <windows.h>
#include <inspectable.h>
#include <winstring.h>

#include <cstdint>
#include <vector>

namespace olvex::test_server::abi {

// Windows Runtime error codes the toolchain's headers lack.
inline constexpr HRESULT E_BOUNDS = static_cast<HRESULT>(0x8000000BL);
inline constexpr HRESULT E_ILLEGAL_METHOD_CALL = static_cast<HRESULT>(0x8000000EL);
inline constexpr HRESULT RO_E_CLOSED = static_cast<HRESULT>(0x80000013L);
inline constexpr HRESULT E_ILLEGAL_DELEGATE_ASSIGNMENT = static_cast<HRESULT>(0x80000018L);

// AsyncStatus values.
inline constexpr std::int32_t ASYNC_STARTED = 0;
inline constexpr std::int32_t ASYNC_COMPLETED = 1;
inline constexpr std::int32_t ASYNC_CANCELED = 2;
inline constexpr std::int32_t ASYNC_ERROR = 3;

struct TimeSpan {
    std::int64_t duration;
};
struct DateTime {
    std::int64_t universal_time;
};
struct EventRegistrationToken {
    std::int64_t value;
};

// ---- GUIDs ----------------------------------------------------------------

inline constexpr GUID IID_UNKNOWN{0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_INSPECTABLE{0xaf86e2e0, 0xb12d, 0x4c6a, {0x9c, 0x5a, 0xd7, 0xaa, 0x65, 0x10, 0x1e, 0x90}};
inline constexpr GUID IID_AGILE_OBJECT{0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};
inline constexpr GUID IID_ACTIVATION_FACTORY{0x00000035, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_ASYNC_INFO{0x00000036, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_CLOSABLE{0x30d5a829, 0x7fa4, 0x4026, {0x83, 0xbb, 0xd7, 0x5b, 0xae, 0x4e, 0xa9, 0x9e}};

inline constexpr GUID IID_MANAGER_STATICS{0x2050c4ee, 0x11a0, 0x57de, {0xae, 0xd7, 0xc9, 0x7c, 0x70, 0x33, 0x82, 0x45}};
inline constexpr GUID IID_MANAGER{0xcace8eac, 0xe86e, 0x504a, {0xab, 0x31, 0x5f, 0xf8, 0xff, 0x1b, 0xce, 0x49}};
inline constexpr GUID IID_SESSION{0x7148c835, 0x9b14, 0x5ae2, {0xab, 0x85, 0xdc, 0x9b, 0x1c, 0x14, 0xe1, 0xa8}};
inline constexpr GUID IID_MEDIA_PROPERTIES{0x68856cf6, 0xadb4, 0x54b2, {0xac, 0x16, 0x05, 0x83, 0x79, 0x07, 0xac, 0xb6}};
inline constexpr GUID IID_PLAYBACK_INFO{0x94b4b6cf, 0xe8ba, 0x51ad, {0x87, 0xa7, 0xc1, 0x0a, 0xde, 0x10, 0x61, 0x27}};
inline constexpr GUID IID_PLAYBACK_CONTROLS{0x6501a3e6, 0xbc7a, 0x503a, {0xbb, 0x1b, 0x68, 0xf1, 0x58, 0xf3, 0xfb, 0x03}};
inline constexpr GUID IID_TIMELINE_PROPERTIES{0xede34136, 0x6f25, 0x588d, {0x8e, 0xcf, 0xea, 0x5b, 0x67, 0x35, 0xaa, 0xa5}};

inline constexpr GUID IID_CURRENT_SESSION_CHANGED_ARGS{0x6969cb39, 0x0bfa, 0x5fe0, {0x8d, 0x73, 0x09, 0xcc, 0x5e, 0x54, 0x08, 0xe1}};
inline constexpr GUID IID_SESSIONS_CHANGED_ARGS{0xbbf0cd32, 0x42c4, 0x5a58, {0xb3, 0x17, 0xf3, 0x4b, 0xbf, 0xbd, 0x26, 0xe0}};
inline constexpr GUID IID_MEDIA_PROPERTIES_CHANGED_ARGS{0x7d3741cb, 0xadf0, 0x5cef, {0x91, 0xba, 0xcf, 0xab, 0xcd, 0xd7, 0x76, 0x78}};
inline constexpr GUID IID_PLAYBACK_INFO_CHANGED_ARGS{0x786756c2, 0xbc0d, 0x50a5, {0x88, 0x07, 0x05, 0x42, 0x91, 0xfe, 0xf1, 0x39}};
inline constexpr GUID IID_TIMELINE_PROPERTIES_CHANGED_ARGS{0x29033a2f, 0xc923, 0x5a77, {0xbc, 0xaf, 0x05, 0x5f, 0xf4, 0x15, 0xad, 0x32}};

inline constexpr GUID IID_STREAM_REFERENCE{0x33ee3134, 0x1dd6, 0x4e3a, {0x80, 0x67, 0xd1, 0xc1, 0x62, 0xe8, 0x64, 0x2b}};
inline constexpr GUID IID_STREAM_WITH_CONTENT_TYPE{0xcc254827, 0x4b3d, 0x438f, {0x92, 0x32, 0x10, 0xc7, 0x6b, 0xc7, 0xe0, 0x38}};
inline constexpr GUID IID_RANDOM_ACCESS_STREAM{0x905a0fe1, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
inline constexpr GUID IID_INPUT_STREAM{0x905a0fe2, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
inline constexpr GUID IID_OUTPUT_STREAM{0x905a0fe6, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
inline constexpr GUID IID_CONTENT_TYPE_PROVIDER{0x97d098a5, 0x3b99, 0x4de9, {0x88, 0xa5, 0xe1, 0x1d, 0x2f, 0x50, 0xc7, 0x95}};
inline constexpr GUID IID_DATA_READER{0xe2b50029, 0xb4c1, 0x4314, {0xa4, 0xb8, 0xfb, 0x81, 0x3a, 0x2f, 0x27, 0x5e}};
inline constexpr GUID IID_DATA_READER_FACTORY{0xd7527847, 0x57da, 0x4e15, {0x91, 0x4c, 0x06, 0x80, 0x66, 0x99, 0xa0, 0x98}};
inline constexpr GUID IID_DATA_READER_STATICS{0x11fcbfc8, 0xf93a, 0x471b, {0xb1, 0x21, 0xf3, 0x79, 0xe3, 0x49, 0x31, 0x3c}};

// Parameterized instances.
inline constexpr GUID IID_ASYNC_OPERATION_BOOLEAN{0xcdb5efb3, 0x5788, 0x509d, {0x9b, 0xe1, 0x71, 0xcc, 0xb8, 0xa3, 0x36, 0x2a}};
inline constexpr GUID IID_COMPLETED_HANDLER_BOOLEAN{0xc1d3d1a2, 0xae17, 0x5a5f, {0xb5, 0xa2, 0xbd, 0xcc, 0x88, 0x44, 0x88, 0x9a}};
inline constexpr GUID IID_ASYNC_OPERATION_MANAGER{0x3eec115e, 0x7346, 0x5c27, {0x8c, 0x5f, 0xda, 0x78, 0x51, 0x4a, 0x27, 0x7b}};
inline constexpr GUID IID_COMPLETED_HANDLER_MANAGER{0x10f0074e, 0x923d, 0x5510, {0x8f, 0x4a, 0xdd, 0xe3, 0x77, 0x54, 0xca, 0x0e}};
inline constexpr GUID IID_ASYNC_OPERATION_MEDIA_PROPERTIES{0xb185e6f3, 0xe0d8, 0x51cb, {0x91, 0x3f, 0xc9, 0x8d, 0x48, 0xc9, 0x3c, 0x46}};
inline constexpr GUID IID_COMPLETED_HANDLER_MEDIA_PROPERTIES{0x84593a3d, 0x951a, 0x55b6, {0x83, 0x53, 0x52, 0x05, 0xe5, 0x77, 0x79, 0x7b}};
inline constexpr GUID IID_ASYNC_OPERATION_STREAM{0xc4a57c5e, 0x32b0, 0x55b3, {0xad, 0x13, 0xce, 0x1c, 0x23, 0x04, 0x1e, 0xd6}};
inline constexpr GUID IID_COMPLETED_HANDLER_STREAM{0x3dddecf4, 0x1d39, 0x58e8, {0x83, 0xb1, 0xdb, 0xed, 0x54, 0x1c, 0x7f, 0x35}};
inline constexpr GUID IID_ASYNC_OPERATION_UINT32{0xef60385f, 0xbe78, 0x584b, {0xaa, 0xef, 0x78, 0x29, 0xad, 0xa2, 0xb0, 0xde}};
inline constexpr GUID IID_COMPLETED_HANDLER_UINT32{0x9343b6e7, 0xe3d2, 0x5e4a, {0xab, 0x2d, 0x2b, 0xce, 0x49, 0x19, 0xa6, 0xa4}};
inline constexpr GUID IID_VECTOR_VIEW_SESSION{0x9b2672da, 0x5088, 0x5a1d, {0xac, 0xd9, 0xa3, 0xfc, 0x5e, 0xf1, 0xcf, 0xa4}};
inline constexpr GUID IID_VECTOR_VIEW_STRING{0x2f13c006, 0xa03a, 0x5f69, {0xb0, 0x90, 0x75, 0xa4, 0x3e, 0x33, 0x42, 0x3e}};
inline constexpr GUID IID_HANDLER_CURRENT_SESSION_CHANGED{0x228bd0ed, 0x1fa2, 0x5e9b, {0xa6, 0xec, 0x42, 0x56, 0x61, 0x73, 0x10, 0x3b}};
inline constexpr GUID IID_HANDLER_SESSIONS_CHANGED{0x2e2a8630, 0xdc8c, 0x530a, {0x97, 0x46, 0xbc, 0x98, 0x4d, 0x4b, 0x02, 0x9e}};
inline constexpr GUID IID_HANDLER_MEDIA_PROPERTIES_CHANGED{0x0f2ce2b7, 0xafa7, 0x5ed0, {0x8c, 0xb6, 0x8c, 0x40, 0xcf, 0x9b, 0x3a, 0x5f}};
inline constexpr GUID IID_HANDLER_PLAYBACK_INFO_CHANGED{0x2bdf1426, 0xd41f, 0x5896, {0x89, 0x7f, 0xef, 0xc0, 0xb0, 0xfa, 0x73, 0x92}};
inline constexpr GUID IID_HANDLER_TIMELINE_PROPERTIES_CHANGED{0xe8bf62af, 0xfac1, 0x5fff, {0x90, 0x53, 0x0b, 0xf1, 0x91, 0xae, 0x77, 0x7e}};
inline constexpr GUID IID_REFERENCE_DOUBLE{0x2f2d6c29, 0x5473, 0x5f3e, {0x92, 0xe7, 0x96, 0x57, 0x2b, 0xb9, 0x90, 0xe2}};
inline constexpr GUID IID_REFERENCE_BOOLEAN{0x3c00fd60, 0x2950, 0x5939, {0xa2, 0x1a, 0x2d, 0x12, 0xc5, 0xa0, 0x1b, 0x8a}};
inline constexpr GUID IID_REFERENCE_PLAYBACK_TYPE{0xe289f7d8, 0x6ba7, 0x50ab, {0x9f, 0x13, 0x6e, 0x4e, 0x51, 0xd1, 0x5c, 0xa4}};
inline constexpr GUID IID_REFERENCE_AUTO_REPEAT_MODE{0x50a7f41f, 0x58d5, 0x5c4d, {0x94, 0x75, 0x8d, 0xd1, 0xac, 0xd6, 0x58, 0x36}};

// ---- Foundation -----------------------------------------------------------

struct IActivationFactory : IInspectable {
    virtual HRESULT __stdcall ActivateInstance(IInspectable** instance) = 0;
};

struct IAsyncInfo : IInspectable {
    virtual HRESULT __stdcall get_Id(UINT32* id) = 0;
    virtual HRESULT __stdcall get_Status(std::int32_t* status) = 0;
    virtual HRESULT __stdcall get_ErrorCode(HRESULT* code) = 0;
    virtual HRESULT __stdcall Cancel() = 0;
    virtual HRESULT __stdcall Close() = 0;
};

struct IClosable : IInspectable {
    virtual HRESULT __stdcall Close() = 0;
};

template <typename Result>
struct IAsyncOperation;

// AsyncOperationCompletedHandler<T>: IUnknown-based.
template <typename Result>
struct IAsyncCompletedHandler : IUnknown {
    virtual HRESULT __stdcall Invoke(IAsyncOperation<Result>* operation, std::int32_t status) = 0;
};

// IAsyncOperation<T>, with `Result` the ABI type of T.
template <typename Result>
struct IAsyncOperation : IInspectable {
    virtual HRESULT __stdcall put_Completed(IAsyncCompletedHandler<Result>* handler) = 0;
    virtual HRESULT __stdcall get_Completed(IAsyncCompletedHandler<Result>** handler) = 0;
    virtual HRESULT __stdcall GetResults(Result* result) = 0;
};

// TypedEventHandler<S, A>: IUnknown-based.
template <typename Sender, typename Args>
struct ITypedEventHandler : IUnknown {
    virtual HRESULT __stdcall Invoke(Sender* sender, Args* args) = 0;
};

template <typename Item>
struct IVectorView : IInspectable {
    virtual HRESULT __stdcall GetAt(UINT32 index, Item* item) = 0;
    virtual HRESULT __stdcall get_Size(UINT32* size) = 0;
    virtual HRESULT __stdcall IndexOf(Item value, UINT32* index, boolean* found) = 0;
    virtual HRESULT __stdcall GetMany(UINT32 start, UINT32 capacity, Item* items, UINT32* actual) = 0;
};

template <typename Value>
struct IReference : IInspectable {
    virtual HRESULT __stdcall get_Value(Value* value) = 0;
};

// ---- Windows.Storage.Streams ----------------------------------------------

struct IInputStream : IInspectable {
    // The real operation type is IAsyncOperationWithProgress<IBuffer, UInt32>;
    // this server does not offer it.
    virtual HRESULT __stdcall ReadAsync(IInspectable* buffer, UINT32 count, UINT32 options, IInspectable** operation) = 0;
};

struct IOutputStream : IInspectable {
    virtual HRESULT __stdcall WriteAsync(IInspectable* buffer, IInspectable** operation) = 0;
    virtual HRESULT __stdcall FlushAsync(IInspectable** operation) = 0;
};

struct IRandomAccessStream : IInspectable {
    virtual HRESULT __stdcall get_Size(UINT64* size) = 0;
    virtual HRESULT __stdcall put_Size(UINT64 size) = 0;
    virtual HRESULT __stdcall GetInputStreamAt(UINT64 position, IInputStream** stream) = 0;
    virtual HRESULT __stdcall GetOutputStreamAt(UINT64 position, IOutputStream** stream) = 0;
    virtual HRESULT __stdcall get_Position(UINT64* position) = 0;
    virtual HRESULT __stdcall Seek(UINT64 position) = 0;
    virtual HRESULT __stdcall CloneStream(IRandomAccessStream** stream) = 0;
    virtual HRESULT __stdcall get_CanRead(boolean* value) = 0;
    virtual HRESULT __stdcall get_CanWrite(boolean* value) = 0;
};

struct IContentTypeProvider : IInspectable {
    virtual HRESULT __stdcall get_ContentType(HSTRING* value) = 0;
};

// No own methods; the object answers the stream interfaces above.
struct IRandomAccessStreamWithContentType : IInspectable {};

struct IRandomAccessStreamReference : IInspectable {
    virtual HRESULT __stdcall OpenReadAsync(IAsyncOperation<IRandomAccessStreamWithContentType*>** operation) = 0;
};

struct IDataReader : IInspectable {
    virtual HRESULT __stdcall get_UnconsumedBufferLength(UINT32* value) = 0;
    virtual HRESULT __stdcall get_UnicodeEncoding(std::int32_t* value) = 0;
    virtual HRESULT __stdcall put_UnicodeEncoding(std::int32_t value) = 0;
    virtual HRESULT __stdcall get_ByteOrder(std::int32_t* value) = 0;
    virtual HRESULT __stdcall put_ByteOrder(std::int32_t value) = 0;
    virtual HRESULT __stdcall get_InputStreamOptions(UINT32* value) = 0;
    virtual HRESULT __stdcall put_InputStreamOptions(UINT32 value) = 0;
    virtual HRESULT __stdcall ReadByte(BYTE* value) = 0;
    virtual HRESULT __stdcall ReadBytes(UINT32 length, BYTE* value) = 0;
    virtual HRESULT __stdcall ReadBuffer(UINT32 length, IInspectable** buffer) = 0;
    virtual HRESULT __stdcall ReadBoolean(boolean* value) = 0;
    virtual HRESULT __stdcall ReadGuid(GUID* value) = 0;
    virtual HRESULT __stdcall ReadInt16(INT16* value) = 0;
    virtual HRESULT __stdcall ReadInt32(INT32* value) = 0;
    virtual HRESULT __stdcall ReadInt64(INT64* value) = 0;
    virtual HRESULT __stdcall ReadUInt16(UINT16* value) = 0;
    virtual HRESULT __stdcall ReadUInt32(UINT32* value) = 0;
    virtual HRESULT __stdcall ReadUInt64(UINT64* value) = 0;
    virtual HRESULT __stdcall ReadSingle(FLOAT* value) = 0;
    virtual HRESULT __stdcall ReadDouble(DOUBLE* value) = 0;
    virtual HRESULT __stdcall ReadString(UINT32 length, HSTRING* value) = 0;
    virtual HRESULT __stdcall ReadDateTime(DateTime* value) = 0;
    virtual HRESULT __stdcall ReadTimeSpan(TimeSpan* value) = 0;
    virtual HRESULT __stdcall LoadAsync(UINT32 count, IAsyncOperation<UINT32>** operation) = 0;
    virtual HRESULT __stdcall DetachBuffer(IInspectable** buffer) = 0;
    virtual HRESULT __stdcall DetachStream(IInputStream** stream) = 0;
};

struct IDataReaderFactory : IInspectable {
    virtual HRESULT __stdcall CreateDataReader(IInputStream* input_stream, IDataReader** reader) = 0;
};

struct IDataReaderStatics : IInspectable {
    virtual HRESULT __stdcall FromBuffer(IInspectable* buffer, IDataReader** reader) = 0;
};

// The server's own: how its DataReader reads its streams without IBuffer
// (which Wine 8 lacks as well).
struct IByteSource : IUnknown {
    // Up to `count` bytes from the stream's position, which moves past them.
    virtual HRESULT __stdcall ReadNext(UINT32 count, std::vector<BYTE>* bytes) = 0;
};
inline constexpr GUID IID_BYTE_SOURCE{0x6d0c3a52, 0x1f7e, 0x4b8e, {0x9a, 0x41, 0x3c, 0x55, 0x0e, 0x72, 0xd1, 0x08}};

// ---- Windows.Media.Control ------------------------------------------------

struct ICurrentSessionChangedEventArgs : IInspectable {};
struct ISessionsChangedEventArgs : IInspectable {};
struct IMediaPropertiesChangedEventArgs : IInspectable {};
struct IPlaybackInfoChangedEventArgs : IInspectable {};
struct ITimelinePropertiesChangedEventArgs : IInspectable {};

struct IPlaybackControls : IInspectable {
    virtual HRESULT __stdcall get_IsPlayEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsPauseEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsStopEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsRecordEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsFastForwardEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsRewindEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsNextEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsPreviousEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsChannelUpEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsChannelDownEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsPlayPauseToggleEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsShuffleEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsRepeatEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsPlaybackRateEnabled(boolean* value) = 0;
    virtual HRESULT __stdcall get_IsPlaybackPositionEnabled(boolean* value) = 0;
};

struct IPlaybackInfo : IInspectable {
    virtual HRESULT __stdcall get_Controls(IPlaybackControls** value) = 0;
    virtual HRESULT __stdcall get_PlaybackStatus(std::int32_t* value) = 0;
    virtual HRESULT __stdcall get_PlaybackType(IReference<std::int32_t>** value) = 0;
    virtual HRESULT __stdcall get_AutoRepeatMode(IReference<std::int32_t>** value) = 0;
    virtual HRESULT __stdcall get_PlaybackRate(IReference<DOUBLE>** value) = 0;
    virtual HRESULT __stdcall get_IsShuffleActive(IReference<boolean>** value) = 0;
};

struct ITimelineProperties : IInspectable {
    virtual HRESULT __stdcall get_StartTime(TimeSpan* value) = 0;
    virtual HRESULT __stdcall get_EndTime(TimeSpan* value) = 0;
    virtual HRESULT __stdcall get_MinSeekTime(TimeSpan* value) = 0;
    virtual HRESULT __stdcall get_MaxSeekTime(TimeSpan* value) = 0;
    virtual HRESULT __stdcall get_Position(TimeSpan* value) = 0;
    virtual HRESULT __stdcall get_LastUpdatedTime(DateTime* value) = 0;
};

struct IMediaProperties : IInspectable {
    virtual HRESULT __stdcall get_Title(HSTRING* value) = 0;
    virtual HRESULT __stdcall get_Subtitle(HSTRING* value) = 0;
    virtual HRESULT __stdcall get_AlbumArtist(HSTRING* value) = 0;
    virtual HRESULT __stdcall get_Artist(HSTRING* value) = 0;
    virtual HRESULT __stdcall get_AlbumTitle(HSTRING* value) = 0;
    virtual HRESULT __stdcall get_TrackNumber(INT32* value) = 0;
    virtual HRESULT __stdcall get_Genres(IVectorView<HSTRING>** value) = 0;
    virtual HRESULT __stdcall get_AlbumTrackCount(INT32* value) = 0;
    virtual HRESULT __stdcall get_PlaybackType(IReference<std::int32_t>** value) = 0;
    virtual HRESULT __stdcall get_Thumbnail(IRandomAccessStreamReference** value) = 0;
};

struct ISession;

using IBooleanOperation = IAsyncOperation<boolean>;
using IMediaPropertiesChangedHandler = ITypedEventHandler<ISession, IMediaPropertiesChangedEventArgs>;
using IPlaybackInfoChangedHandler = ITypedEventHandler<ISession, IPlaybackInfoChangedEventArgs>;
using ITimelinePropertiesChangedHandler = ITypedEventHandler<ISession, ITimelinePropertiesChangedEventArgs>;

struct ISession : IInspectable {
    virtual HRESULT __stdcall get_SourceAppUserModelId(HSTRING* value) = 0;
    virtual HRESULT __stdcall TryGetMediaPropertiesAsync(IAsyncOperation<IMediaProperties*>** operation) = 0;
    virtual HRESULT __stdcall GetTimelineProperties(ITimelineProperties** result) = 0;
    virtual HRESULT __stdcall GetPlaybackInfo(IPlaybackInfo** result) = 0;
    virtual HRESULT __stdcall TryPlayAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryPauseAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryStopAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryRecordAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryFastForwardAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryRewindAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TrySkipNextAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TrySkipPreviousAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryChangeChannelUpAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryChangeChannelDownAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryTogglePlayPauseAsync(IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryChangeAutoRepeatModeAsync(std::int32_t mode, IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryChangePlaybackRateAsync(DOUBLE rate, IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryChangeShuffleActiveAsync(boolean active, IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall TryChangePlaybackPositionAsync(INT64 ticks, IBooleanOperation** operation) = 0;
    virtual HRESULT __stdcall add_TimelinePropertiesChanged(ITimelinePropertiesChangedHandler* handler,
                                                            EventRegistrationToken* token) = 0;
    virtual HRESULT __stdcall remove_TimelinePropertiesChanged(EventRegistrationToken token) = 0;
    virtual HRESULT __stdcall add_PlaybackInfoChanged(IPlaybackInfoChangedHandler* handler,
                                                      EventRegistrationToken* token) = 0;
    virtual HRESULT __stdcall remove_PlaybackInfoChanged(EventRegistrationToken token) = 0;
    virtual HRESULT __stdcall add_MediaPropertiesChanged(IMediaPropertiesChangedHandler* handler,
                                                         EventRegistrationToken* token) = 0;
    virtual HRESULT __stdcall remove_MediaPropertiesChanged(EventRegistrationToken token) = 0;
};

struct IManager;

using ICurrentSessionChangedHandler = ITypedEventHandler<IManager, ICurrentSessionChangedEventArgs>;
using ISessionsChangedHandler = ITypedEventHandler<IManager, ISessionsChangedEventArgs>;

struct IManager : IInspectable {
    virtual HRESULT __stdcall GetCurrentSession(ISession** result) = 0;
    virtual HRESULT __stdcall GetSessions(IVectorView<ISession*>** result) = 0;
    virtual HRESULT __stdcall add_CurrentSessionChanged(ICurrentSessionChangedHandler* handler,
                                                        EventRegistrationToken* token) = 0;
    virtual HRESULT __stdcall remove_CurrentSessionChanged(EventRegistrationToken token) = 0;
    virtual HRESULT __stdcall add_SessionsChanged(ISessionsChangedHandler* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT __stdcall remove_SessionsChanged(EventRegistrationToken token) = 0;
};

struct IManagerStatics : IInspectable {
    virtual HRESULT __stdcall RequestAsync(IAsyncOperation<IManager*>** operation) = 0;
};

}  // namespace olvex::test_server::abi
