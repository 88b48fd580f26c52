#pragma once

// The Windows Runtime interfaces behind the media transport controls, as they
// lie in memory. The MinGW-w64 headers lack most of them, and the few they
// have either do not compile as C++ (windows.foundation.h) or give GetResults
// one indirection too many, so every interface is declared here.
//
// Each struct lists every method of its vtable in slot order, used or not,
// so that later slots line up. Interfaces derive from IInspectable (slots
// 0 to 5, own methods from slot 6); delegates derive from IUnknown and have
// Invoke in slot 3. Runtime class values travel as their default interface.
// Every interface has its IID attached with __CRT_UUID_DECL, so __uuidof
// works on it; the parameterized IIDs are the ones the Windows Runtime derives
// from the instance's signature.

#include <eventtoken.h>
#include <hstring.h>
#include <inspectable.h>
#include <windows.h>

#include <cstdint>

#pragma GCC diagnostic push
// COM objects are deleted only by their own Release, never through these.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace olvex::media::abi {

// Windows.Foundation.AsyncStatus.
enum class AsyncStatus : std::int32_t { started = 0, completed = 1, canceled = 2, error = 3 };

// Windows.Foundation.TimeSpan (100 ns ticks) and DateTime (100 ns ticks since
// 1601-01-01 UTC).
struct TimeSpan {
    INT64 Duration;
};
struct DateTime {
    INT64 UniversalTime;
};

struct IAsyncInfo : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Id(UINT32* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* error_code) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

struct IClosable : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// `Result` is the ABI type of the operation's result: boolean, UINT32, or a
// pointer to a default interface.
template <class Result>
struct AsyncOperationCompletedHandler;

template <class Result>
struct IAsyncOperation : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE put_Completed(AsyncOperationCompletedHandler<Result>* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Completed(AsyncOperationCompletedHandler<Result>** handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResults(Result* result) = 0;
};

template <class Result>
struct AsyncOperationCompletedHandler : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IAsyncOperation<Result>* operation, AsyncStatus status) = 0;
};

template <class Sender, class Args>
struct TypedEventHandler : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(Sender sender, Args args) = 0;
};

template <class Item>
struct IVectorView : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, Item* item) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(UINT32* size) = 0;
    virtual HRESULT STDMETHODCALLTYPE IndexOf(Item value, UINT32* index, boolean* found) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 start, UINT32 capacity, Item* items, UINT32* actual) = 0;
};

template <class Value>
struct IReference : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Value(Value* value) = 0;
};

// Windows.Storage.Streams.

struct IBuffer : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Capacity(UINT32* capacity) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Length(UINT32* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Length(UINT32 length) = 0;
};

struct IInputStream : IInspectable {
    // The operation is an IAsyncOperationWithProgress<IBuffer, UINT32>, not
    // used here.
    virtual HRESULT STDMETHODCALLTYPE ReadAsync(IBuffer* buffer, UINT32 count, UINT32 options,
                                                IInspectable** operation) = 0;
};

struct IOutputStream : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE WriteAsync(IBuffer* buffer, IInspectable** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE FlushAsync(IInspectable** operation) = 0;
};

struct IRandomAccessStream : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Size(UINT64* size) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Size(UINT64 size) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputStreamAt(UINT64 position, IInputStream** stream) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputStreamAt(UINT64 position, IOutputStream** stream) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Position(UINT64* position) = 0;
    virtual HRESULT STDMETHODCALLTYPE Seek(UINT64 position) = 0;
    virtual HRESULT STDMETHODCALLTYPE CloneStream(IRandomAccessStream** stream) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CanRead(boolean* can_read) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CanWrite(boolean* can_write) = 0;
};

// No methods of its own; the object also answers IRandomAccessStream and
// IInputStream.
struct IRandomAccessStreamWithContentType : IInspectable {};

struct IRandomAccessStreamReference : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE
    OpenReadAsync(IAsyncOperation<IRandomAccessStreamWithContentType*>** operation) = 0;
};

struct IDataReader : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_UnconsumedBufferLength(UINT32* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UnicodeEncoding(INT32* encoding) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_UnicodeEncoding(INT32 encoding) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ByteOrder(INT32* order) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ByteOrder(INT32 order) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_InputStreamOptions(UINT32* options) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_InputStreamOptions(UINT32 options) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadByte(BYTE* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadBytes(UINT32 length, BYTE* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadBuffer(UINT32 length, IBuffer** buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadBoolean(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadGuid(GUID* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadInt16(INT16* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadInt32(INT32* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadInt64(INT64* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadUInt16(UINT16* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadUInt32(UINT32* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadUInt64(UINT64* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadSingle(FLOAT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadDouble(DOUBLE* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadString(UINT32 length, HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadDateTime(DateTime* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadTimeSpan(TimeSpan* value) = 0;
    // The operation is a DataReaderLoadOperation, whose default interface is
    // IAsyncOperation<UINT32>.
    virtual HRESULT STDMETHODCALLTYPE LoadAsync(UINT32 count, IAsyncOperation<UINT32>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE DetachBuffer(IBuffer** buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE DetachStream(IInputStream** stream) = 0;
};

struct IDataReaderFactory : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateDataReader(IInputStream* input_stream, IDataReader** data_reader) = 0;
};

// Windows.Media.Control.

struct IGlobalSystemMediaTransportControlsSessionPlaybackControls : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_IsPlayEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPauseEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsStopEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsRecordEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsFastForwardEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsRewindEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsNextEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPreviousEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsChannelUpEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsChannelDownEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPlayPauseToggleEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsShuffleEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsRepeatEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPlaybackRateEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPlaybackPositionEnabled(boolean* value) = 0;
};

struct IGlobalSystemMediaTransportControlsSessionPlaybackInfo : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE
    get_Controls(IGlobalSystemMediaTransportControlsSessionPlaybackControls** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PlaybackStatus(INT32* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PlaybackType(IReference<INT32>** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AutoRepeatMode(IReference<INT32>** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PlaybackRate(IReference<DOUBLE>** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsShuffleActive(IReference<boolean>** value) = 0;
};

struct IGlobalSystemMediaTransportControlsSessionTimelineProperties : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_StartTime(TimeSpan* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_EndTime(TimeSpan* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MinSeekTime(TimeSpan* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaxSeekTime(TimeSpan* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Position(TimeSpan* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastUpdatedTime(DateTime* value) = 0;
};

struct IGlobalSystemMediaTransportControlsSessionMediaProperties : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Title(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Subtitle(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AlbumArtist(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Artist(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AlbumTitle(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_TrackNumber(INT32* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Genres(IVectorView<HSTRING>** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AlbumTrackCount(INT32* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PlaybackType(IReference<INT32>** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Thumbnail(IRandomAccessStreamReference** value) = 0;
};

// The event arguments carry nothing the program reads.
struct ICurrentSessionChangedEventArgs : IInspectable {};
struct ISessionsChangedEventArgs : IInspectable {};
struct IMediaPropertiesChangedEventArgs : IInspectable {};
struct IPlaybackInfoChangedEventArgs : IInspectable {};
struct ITimelinePropertiesChangedEventArgs : IInspectable {};

struct IGlobalSystemMediaTransportControlsSession;
struct IGlobalSystemMediaTransportControlsSessionManager;

using SessionMediaPropertiesChangedHandler =
    TypedEventHandler<IGlobalSystemMediaTransportControlsSession*, IMediaPropertiesChangedEventArgs*>;
using SessionPlaybackInfoChangedHandler =
    TypedEventHandler<IGlobalSystemMediaTransportControlsSession*, IPlaybackInfoChangedEventArgs*>;
using SessionTimelinePropertiesChangedHandler =
    TypedEventHandler<IGlobalSystemMediaTransportControlsSession*, ITimelinePropertiesChangedEventArgs*>;
using ManagerCurrentSessionChangedHandler =
    TypedEventHandler<IGlobalSystemMediaTransportControlsSessionManager*, ICurrentSessionChangedEventArgs*>;
using ManagerSessionsChangedHandler =
    TypedEventHandler<IGlobalSystemMediaTransportControlsSessionManager*, ISessionsChangedEventArgs*>;

struct IGlobalSystemMediaTransportControlsSession : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_SourceAppUserModelId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryGetMediaPropertiesAsync(
        IAsyncOperation<IGlobalSystemMediaTransportControlsSessionMediaProperties*>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    GetTimelineProperties(IGlobalSystemMediaTransportControlsSessionTimelineProperties** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    GetPlaybackInfo(IGlobalSystemMediaTransportControlsSessionPlaybackInfo** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryPlayAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryPauseAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryStopAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryRecordAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryFastForwardAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryRewindAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TrySkipNextAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TrySkipPreviousAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryChangeChannelUpAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryChangeChannelDownAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryTogglePlayPauseAsync(IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryChangeAutoRepeatModeAsync(INT32 requested_mode,
                                                                   IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryChangePlaybackRateAsync(DOUBLE requested_rate,
                                                                 IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryChangeShuffleActiveAsync(boolean requested_state,
                                                                  IAsyncOperation<boolean>** operation) = 0;
    // The position is a TimeSpan passed as its bare 64-bit tick count.
    virtual HRESULT STDMETHODCALLTYPE TryChangePlaybackPositionAsync(INT64 requested_position,
                                                                     IAsyncOperation<boolean>** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_TimelinePropertiesChanged(SessionTimelinePropertiesChangedHandler* handler,
                                                                    EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_TimelinePropertiesChanged(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_PlaybackInfoChanged(SessionPlaybackInfoChangedHandler* handler,
                                                              EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_PlaybackInfoChanged(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_MediaPropertiesChanged(SessionMediaPropertiesChangedHandler* handler,
                                                                 EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_MediaPropertiesChanged(EventRegistrationToken token) = 0;
};

struct IGlobalSystemMediaTransportControlsSessionManager : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetCurrentSession(IGlobalSystemMediaTransportControlsSession** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    GetSessions(IVectorView<IGlobalSystemMediaTransportControlsSession*>** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_CurrentSessionChanged(ManagerCurrentSessionChangedHandler* handler,
                                                                EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_CurrentSessionChanged(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_SessionsChanged(ManagerSessionsChangedHandler* handler,
                                                          EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_SessionsChanged(EventRegistrationToken token) = 0;
};

struct IGlobalSystemMediaTransportControlsSessionManagerStatics : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE
    RequestAsync(IAsyncOperation<IGlobalSystemMediaTransportControlsSessionManager*>** operation) = 0;
};

// Short names for the instances the backend uses.
using ISession = IGlobalSystemMediaTransportControlsSession;
using IManager = IGlobalSystemMediaTransportControlsSessionManager;
using IManagerStatics = IGlobalSystemMediaTransportControlsSessionManagerStatics;
using IMediaProperties = IGlobalSystemMediaTransportControlsSessionMediaProperties;
using IPlaybackInfo = IGlobalSystemMediaTransportControlsSessionPlaybackInfo;
using ITimelineProperties = IGlobalSystemMediaTransportControlsSessionTimelineProperties;
using ISessionList = IVectorView<ISession*>;

}  // namespace olvex::media::abi

#pragma GCC diagnostic pop

// clang-format off
#define OLVEX_ABI(type) olvex::media::abi::type
__CRT_UUID_DECL(OLVEX_ABI(IAsyncInfo), 0x00000036, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(OLVEX_ABI(IClosable), 0x30d5a829, 0x7fa4, 0x4026, 0x83, 0xbb, 0xd7, 0x5b, 0xae, 0x4e, 0xa9, 0x9e)
__CRT_UUID_DECL(OLVEX_ABI(IBuffer), 0x905a0fe0, 0xbc53, 0x11df, 0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda)
__CRT_UUID_DECL(OLVEX_ABI(IRandomAccessStream), 0x905a0fe1, 0xbc53, 0x11df, 0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda)
__CRT_UUID_DECL(OLVEX_ABI(IInputStream), 0x905a0fe2, 0xbc53, 0x11df, 0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda)
__CRT_UUID_DECL(OLVEX_ABI(IOutputStream), 0x905a0fe6, 0xbc53, 0x11df, 0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda)
__CRT_UUID_DECL(OLVEX_ABI(IRandomAccessStreamWithContentType), 0xcc254827, 0x4b3d, 0x438f, 0x92, 0x32, 0x10, 0xc7, 0x6b, 0xc7, 0xe0, 0x38)
__CRT_UUID_DECL(OLVEX_ABI(IRandomAccessStreamReference), 0x33ee3134, 0x1dd6, 0x4e3a, 0x80, 0x67, 0xd1, 0xc1, 0x62, 0xe8, 0x64, 0x2b)
__CRT_UUID_DECL(OLVEX_ABI(IDataReader), 0xe2b50029, 0xb4c1, 0x4314, 0xa4, 0xb8, 0xfb, 0x81, 0x3a, 0x2f, 0x27, 0x5e)
__CRT_UUID_DECL(OLVEX_ABI(IDataReaderFactory), 0xd7527847, 0x57da, 0x4e15, 0x91, 0x4c, 0x06, 0x80, 0x66, 0x99, 0xa0, 0x98)
__CRT_UUID_DECL(OLVEX_ABI(IManagerStatics), 0x2050c4ee, 0x11a0, 0x57de, 0xae, 0xd7, 0xc9, 0x7c, 0x70, 0x33, 0x82, 0x45)
__CRT_UUID_DECL(OLVEX_ABI(IManager), 0xcace8eac, 0xe86e, 0x504a, 0xab, 0x31, 0x5f, 0xf8, 0xff, 0x1b, 0xce, 0x49)
__CRT_UUID_DECL(OLVEX_ABI(ISession), 0x7148c835, 0x9b14, 0x5ae2, 0xab, 0x85, 0xdc, 0x9b, 0x1c, 0x14, 0xe1, 0xa8)
__CRT_UUID_DECL(OLVEX_ABI(IMediaProperties), 0x68856cf6, 0xadb4, 0x54b2, 0xac, 0x16, 0x05, 0x83, 0x79, 0x07, 0xac, 0xb6)
__CRT_UUID_DECL(OLVEX_ABI(IPlaybackInfo), 0x94b4b6cf, 0xe8ba, 0x51ad, 0x87, 0xa7, 0xc1, 0x0a, 0xde, 0x10, 0x61, 0x27)
__CRT_UUID_DECL(OLVEX_ABI(IGlobalSystemMediaTransportControlsSessionPlaybackControls), 0x6501a3e6, 0xbc7a, 0x503a, 0xbb, 0x1b, 0x68, 0xf1, 0x58, 0xf3, 0xfb, 0x03)
__CRT_UUID_DECL(OLVEX_ABI(ITimelineProperties), 0xede34136, 0x6f25, 0x588d, 0x8e, 0xcf, 0xea, 0x5b, 0x67, 0x35, 0xaa, 0xa5)
__CRT_UUID_DECL(OLVEX_ABI(ICurrentSessionChangedEventArgs), 0x6969cb39, 0x0bfa, 0x5fe0, 0x8d, 0x73, 0x09, 0xcc, 0x5e, 0x54, 0x08, 0xe1)
__CRT_UUID_DECL(OLVEX_ABI(ISessionsChangedEventArgs), 0xbbf0cd32, 0x42c4, 0x5a58, 0xb3, 0x17, 0xf3, 0x4b, 0xbf, 0xbd, 0x26, 0xe0)
__CRT_UUID_DECL(OLVEX_ABI(IMediaPropertiesChangedEventArgs), 0x7d3741cb, 0xadf0, 0x5cef, 0x91, 0xba, 0xcf, 0xab, 0xcd, 0xd7, 0x76, 0x78)
__CRT_UUID_DECL(OLVEX_ABI(IPlaybackInfoChangedEventArgs), 0x786756c2, 0xbc0d, 0x50a5, 0x88, 0x07, 0x05, 0x42, 0x91, 0xfe, 0xf1, 0x39)
__CRT_UUID_DECL(OLVEX_ABI(ITimelinePropertiesChangedEventArgs), 0x29033a2f, 0xc923, 0x5a77, 0xbc, 0xaf, 0x05, 0x5f, 0xf4, 0x15, 0xad, 0x32)

__CRT_UUID_DECL(OLVEX_ABI(IAsyncOperation<boolean>), 0xcdb5efb3, 0x5788, 0x509d, 0x9b, 0xe1, 0x71, 0xcc, 0xb8, 0xa3, 0x36, 0x2a)
__CRT_UUID_DECL(OLVEX_ABI(AsyncOperationCompletedHandler<boolean>), 0xc1d3d1a2, 0xae17, 0x5a5f, 0xb5, 0xa2, 0xbd, 0xcc, 0x88, 0x44, 0x88, 0x9a)
__CRT_UUID_DECL(OLVEX_ABI(IAsyncOperation<UINT32>), 0xef60385f, 0xbe78, 0x584b, 0xaa, 0xef, 0x78, 0x29, 0xad, 0xa2, 0xb0, 0xde)
__CRT_UUID_DECL(OLVEX_ABI(AsyncOperationCompletedHandler<UINT32>), 0x9343b6e7, 0xe3d2, 0x5e4a, 0xab, 0x2d, 0x2b, 0xce, 0x49, 0x19, 0xa6, 0xa4)
__CRT_UUID_DECL(OLVEX_ABI(IAsyncOperation<OLVEX_ABI(IManager)*>), 0x3eec115e, 0x7346, 0x5c27, 0x8c, 0x5f, 0xda, 0x78, 0x51, 0x4a, 0x27, 0x7b)
__CRT_UUID_DECL(OLVEX_ABI(AsyncOperationCompletedHandler<OLVEX_ABI(IManager)*>), 0x10f0074e, 0x923d, 0x5510, 0x8f, 0x4a, 0xdd, 0xe3, 0x77, 0x54, 0xca, 0x0e)
__CRT_UUID_DECL(OLVEX_ABI(IAsyncOperation<OLVEX_ABI(IMediaProperties)*>), 0xb185e6f3, 0xe0d8, 0x51cb, 0x91, 0x3f, 0xc9, 0x8d, 0x48, 0xc9, 0x3c, 0x46)
__CRT_UUID_DECL(OLVEX_ABI(AsyncOperationCompletedHandler<OLVEX_ABI(IMediaProperties)*>), 0x84593a3d, 0x951a, 0x55b6, 0x83, 0x53, 0x52, 0x05, 0xe5, 0x77, 0x79, 0x7b)
__CRT_UUID_DECL(OLVEX_ABI(IAsyncOperation<OLVEX_ABI(IRandomAccessStreamWithContentType)*>), 0xc4a57c5e, 0x32b0, 0x55b3, 0xad, 0x13, 0xce, 0x1c, 0x23, 0x04, 0x1e, 0xd6)
__CRT_UUID_DECL(OLVEX_ABI(AsyncOperationCompletedHandler<OLVEX_ABI(IRandomAccessStreamWithContentType)*>), 0x3dddecf4, 0x1d39, 0x58e8, 0x83, 0xb1, 0xdb, 0xed, 0x54, 0x1c, 0x7f, 0x35)
__CRT_UUID_DECL(OLVEX_ABI(ISessionList), 0x9b2672da, 0x5088, 0x5a1d, 0xac, 0xd9, 0xa3, 0xfc, 0x5e, 0xf1, 0xcf, 0xa4)
__CRT_UUID_DECL(OLVEX_ABI(IVectorView<HSTRING>), 0x2f13c006, 0xa03a, 0x5f69, 0xb0, 0x90, 0x75, 0xa4, 0x3e, 0x33, 0x42, 0x3e)
__CRT_UUID_DECL(OLVEX_ABI(IReference<DOUBLE>), 0x2f2d6c29, 0x5473, 0x5f3e, 0x92, 0xe7, 0x96, 0x57, 0x2b, 0xb9, 0x90, 0xe2)
__CRT_UUID_DECL(OLVEX_ABI(IReference<boolean>), 0x3c00fd60, 0x2950, 0x5939, 0xa2, 0x1a, 0x2d, 0x12, 0xc5, 0xa0, 0x1b, 0x8a)
__CRT_UUID_DECL(OLVEX_ABI(SessionMediaPropertiesChangedHandler), 0x0f2ce2b7, 0xafa7, 0x5ed0, 0x8c, 0xb6, 0x8c, 0x40, 0xcf, 0x9b, 0x3a, 0x5f)
__CRT_UUID_DECL(OLVEX_ABI(SessionPlaybackInfoChangedHandler), 0x2bdf1426, 0xd41f, 0x5896, 0x89, 0x7f, 0xef, 0xc0, 0xb0, 0xfa, 0x73, 0x92)
__CRT_UUID_DECL(OLVEX_ABI(SessionTimelinePropertiesChangedHandler), 0xe8bf62af, 0xfac1, 0x5fff, 0x90, 0x53, 0x0b, 0xf1, 0x91, 0xae, 0x77, 0x7e)
__CRT_UUID_DECL(OLVEX_ABI(ManagerCurrentSessionChangedHandler), 0x228bd0ed, 0x1fa2, 0x5e9b, 0xa6, 0xec, 0x42, 0x56, 0x61, 0x73, 0x10, 0x3b)
__CRT_UUID_DECL(OLVEX_ABI(ManagerSessionsChangedHandler), 0x2e2a8630, 0xdc8c, 0x530a, 0x97, 0x46, 0xbc, 0x98, 0x4d, 0x4b, 0x02, 0x9e)
#undef OLVEX_ABI
// clang-format on
