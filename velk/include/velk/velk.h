/* velk: send one SCSI command to a storage device through the system's
 * pass-through interface, turn a status word into text, and find the
 * transfer-buffer alignment a device's adapter needs.
 *
 * Status word: bits 31-16 hold the host error (the platform error code of a
 * failed open, query or request, low 16 bits of it), bits 15-0 the SCSI status
 * byte the device returned (0 when no command was sent).
 *
 * The functions keep no state and may be called from several threads at once.
 */
#ifndef VELK_VELK_H
#define VELK_VELK_H

#include <stdint.h>

#if defined(VELK_BUILDING_LIBRARY)
#  define VELK_API __attribute__((visibility("default")))
#else
#  define VELK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of sptiexe. */
#define VELK_DONE 0            /* command sent (or none asked for and the device opened) */
#define VELK_OPEN_FAILED 2     /* device not opened; status holds the host error */
#define VELK_REQUEST_FAILED 3  /* the system refused or could not carry out the request;
                                  status holds the host error and the SCSI status */
#define VELK_BAD_CDB 4         /* CDB longer than 16 bytes, or missing; nothing sent */
#define VELK_NO_DATA_BUFFER 5  /* data length without a data buffer; nothing sent */
#define VELK_NO_MEMORY 6       /* transfer buffer not allocated; nothing sent */

/* Directions: the system's pass-through values, and one of this library's own.
 * VELK_DATA_OUT (0) sends no command at all: sptiexe opens and closes the
 * device and returns VELK_DONE (kept so, callers may rely on it).
 * VELK_DATA_IN (1): the device's data comes back in the buffer.
 * VELK_DATA_UNSPECIFIED (2): the buffer is handed down for a transfer this
 * system carries out as data in; nothing of it reaches the device.
 * VELK_DATA_TO_DEVICE (3), this library's addition: the buffer is sent to
 * the device (a write-type command); the request carries the system's
 * data-out value. */
#define VELK_DATA_OUT 0
#define VELK_DATA_IN 1
#define VELK_DATA_UNSPECIFIED 2
#define VELK_DATA_TO_DEVICE 3

#define VELK_SENSE_LENGTH 32
#define VELK_MESSAGE_BUFFER 80

/* Sends the CDB (1 to 16 bytes) to the device "/dev/" + deviceName (the
 * path is cut to 24 characters). data may be null only with dataLength 0;
 * sense, when not null, receives 32 bytes. timeOut is in seconds. status and
 * bytesReturned receive the status word and the byte count of the request
 * block the system filled in (0 when no request was carried out).
 * alignmentMask (an alignment minus one, 0 for none; null counts as 0) is
 * usually the value of getAlignmentMaskForDevice. Returns a VELK_ code.
 * On VELK_OPEN_FAILED the data and sense buffers are zero-filled; on
 * VELK_REQUEST_FAILED they hold whatever came back, the data otherwise as
 * passed in. */
VELK_API int32_t sptiexe(const char *deviceName, uint8_t direction, const uint8_t *cdb,
                         uint8_t cdbLength, uint8_t *data, uint32_t dataLength,
                         uint8_t *sense, uint32_t timeOut, uint32_t *status,
                         uint32_t *bytesReturned, const uint32_t *alignmentMask);

/* Writes the system's text for the host error in the high half of status,
 * zero-terminated, into buffer (at least 80 bytes). Returns its length, or 0
 * when the system has no text for the code (buffer then says why). */
VELK_API int32_t getHostError(char *buffer, uint32_t status);

/* Sets *alignmentMask to the transfer-buffer alignment mask of the device's
 * adapter (0 when it reports none) and returns 1; on failure returns 0 with
 * the host error in *status. */
VELK_API int32_t getAlignmentMaskForDevice(const char *deviceName, uint32_t *alignmentMask,
                                           uint32_t *status);

#ifdef __cplusplus
}
#endif

#endif
