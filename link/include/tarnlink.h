/* Tarnlink: the camera network SDK. Logs in to a camera over TCP, delivers its live stream
 * through a callback on the SDK's own thread, and drives the focus motor.
 *
 * Handles are int32_t: a user id from TLNK_Login and a play handle from TLNK_RealPlay_V30, both
 * >= 0 on success and negative on failure. The other operations return TLNK_TRUE (1) on success
 * and TLNK_FALSE (0) on failure. After any failure TLNK_GetLastError() tells why. Every
 * operation may be called from any thread; none of them throws. */
#ifndef TARNLINK_H_
#define TARNLINK_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(TARNLINK_BUILDING)
#define TLNK_API __declspec(dllexport)
#else
#define TLNK_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define TLNK_API __attribute__((visibility("default")))
#else
#define TLNK_API
#endif

#define TLNK_TRUE 1
#define TLNK_FALSE 0

/* Error codes of TLNK_GetLastError. */
#define TLNK_NOERROR 0              /* the last operation succeeded */
#define TLNK_E_INVALID_ARGUMENT 1   /* null string or record, bad address text, port 0, ... */
#define TLNK_E_INVALID_HANDLE 2     /* no such user id or play handle */
#define TLNK_E_CONNECT 3            /* the camera could not be reached */
#define TLNK_E_PASSWORD 4           /* the camera refused the user name or password */
#define TLNK_E_TIMEOUT 5            /* the camera did not answer in time */
#define TLNK_E_PROTOCOL 6           /* the camera sent something malformed; the link is closed */
#define TLNK_E_DISCONNECTED 7       /* the connection to the camera is lost */
#define TLNK_E_BUSY 8               /* a stream already runs on this login */
#define TLNK_E_REFUSED 9            /* the camera refused the request (channel, command, ...) */
#define TLNK_E_RESOURCES 10         /* out of memory, threads, descriptors or handles */

/* Data types of the stream callback. */
#define TLNK_STREAM_HEADER 1 /* once, first: a TLNK_StreamHeader record */
#define TLNK_STREAM_DATA 2   /* raw frame bytes in stream order; chunks need not match frames */
#define TLNK_STREAM_END 3    /* the connection was lost; size 0; nothing follows */

/* PTZ commands of TLNK_PTZControl_Other. */
#define TLNK_PTZ_FOCUS_NEAR 13
#define TLNK_PTZ_FOCUS_FAR 14

/* Filled by TLNK_Login. Text fields are NUL-terminated. 54 bytes, no padding. */
typedef struct DeviceInfo {
    char serialNumber[32];
    uint16_t width;         /* image width in pixels */
    uint16_t height;        /* image height in pixels */
    uint16_t frameRate;     /* frames per second */
    uint16_t formatCode;    /* format code of the frame headers */
    uint8_t channelCount;   /* number of channels */
    uint8_t startChannel;   /* number of the first channel */
    uint8_t protocolVersion;
    uint8_t reserved[11];
} DeviceInfo;

/* Given to TLNK_RealPlay_V30. */
typedef struct PreviewInfo {
    int32_t channel;        /* camera channel, 1 */
    int32_t waitSeconds;    /* how long to wait for the camera to accept the stream; <= 0: 5 */
    int32_t blocked;        /* nonzero: wait for the acceptance; 0: return once it is asked */
    const char* streamName; /* reserved; may be null or empty */
} PreviewInfo;

/* The record of data type 1 (little-endian, 24 bytes). */
typedef struct TLNK_StreamHeader {
    char magic[4];          /* "TLSH" */
    uint16_t version;       /* 1 */
    uint16_t formatCode;
    uint32_t width;
    uint32_t height;
    uint32_t frameRate;
    uint32_t flags;         /* TLNK_STREAM_FLAG_* */
} TLNK_StreamHeader;

#define TLNK_STREAM_FLAG_BIG_ENDIAN_PIXELS 1u /* image words most significant byte first */
#define TLNK_STREAM_FLAG_CRC 2u               /* frame headers carry a "CRC_" block */

/* Called on the SDK's own thread, one call at a time per play handle. The buffer is valid only
 * during the call. The call should return promptly: while it runs the SDK reads nothing, and a
 * camera that cannot send for several seconds drops the connection. */
typedef void (*TLNK_StreamCallback)(int32_t playHandle, uint32_t dataType, uint8_t* buffer,
                                    uint32_t size, void* user);

/* Prepares the library; may be called any number of times. Returns TLNK_TRUE. */
TLNK_API int32_t TLNK_Init(void);

/* Connects to address:port (dotted IPv4 text) and logs in; fills deviceInfo when it is not null.
 * Blocks for at most about ten seconds. Returns a user id >= 0, or -1. */
TLNK_API int32_t TLNK_Login(const char* address, uint16_t port, const char* user,
                            const char* password, DeviceInfo* deviceInfo);

/* The error code of the calling thread's last failed operation (TLNK_E_*), TLNK_NOERROR after a
 * success. */
TLNK_API uint32_t TLNK_GetLastError(void);

/* Starts the stream of previewInfo->channel; callback receives it with user. One stream per
 * login. reserved must be 0. Returns a play handle >= 0, or -1. */
TLNK_API int32_t TLNK_RealPlay_V30(int32_t userId, const PreviewInfo* previewInfo,
                                   TLNK_StreamCallback callback, void* user, int32_t reserved);

/* Stops the stream. Once it returns the callback is not called again for this handle, also when
 * a callback was running on the SDK's thread meanwhile; it may be called from inside the
 * callback. Returns TLNK_TRUE, or TLNK_FALSE for an unknown handle. */
TLNK_API int32_t TLNK_StopRealPlay(int32_t playHandle);

/* Stops the login's stream (as TLNK_StopRealPlay), logs out and releases the connection and the
 * SDK's thread. Returns TLNK_TRUE, or TLNK_FALSE for an unknown user id. */
TLNK_API int32_t TLNK_Logout(int32_t userId);

/* Starts (stop = 0) or stops (stop = 1) the motion of command on channel; 13 and 14 move the
 * focus motor one way and the other. Waits for the camera's answer (at most 3 s) and returns
 * TLNK_TRUE when the camera accepted it; from inside the stream callback it only sends. */
TLNK_API int32_t TLNK_PTZControl_Other(int32_t userId, int32_t channel, uint32_t command,
                                       uint32_t stop);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(DeviceInfo) == 54, "DeviceInfo is a 54-byte record");
static_assert(sizeof(TLNK_StreamHeader) == 24, "TLNK_StreamHeader is a 24-byte record");
#else
_Static_assert(sizeof(DeviceInfo) == 54, "DeviceInfo is a 54-byte record");
_Static_assert(sizeof(TLNK_StreamHeader) == 24, "TLNK_StreamHeader is a 24-byte record");
#endif

#endif /* TARNLINK_H_ */
