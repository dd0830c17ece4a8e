/* Automatic gain control: turns a raw thermal image (one unsigned 16-bit sample per pixel carrying
 * a 14-bit value) into an 8-bit grey picture through a look-up table rebuilt from each frame's
 * histogram, in one of three modes.
 *
 * The module never allocates: the caller hands AGC_Create one work block of AGC_MEM_SIZE bytes and
 * frees it when done (there is no destroy operation). The block holds, in this order:
 *   bytes      0 ..   127  the context record; the handle points at it
 *   bytes    128 .. 16511  the look-up table, one output byte for each raw value 0 .. 16383
 *   bytes  16512 .. 49279  the histogram, one unsigned 16-bit counter for each raw value
 *                          0 .. 16383; a counter wraps modulo 65536
 *
 * Every operation returns AGC_OK (0) or a negative AGC_E_* code and changes nothing on failure.
 * None of them throws. AGC_SetMode may be called from another thread than AGC_Process: a frame is
 * always converted wholly with one mode and its settings, a change takes effect at the next
 * frame. AGC_Create must not run while another operation uses the same block. */
#ifndef KX_PIPELINE_AGC_H_
#define KX_PIPELINE_AGC_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Modes of AGC_SetMode. */
#define AGC_MODE_LINE 1    /* linear stretch between robust bounds, centred on the mean */
#define AGC_MODE_HISTEQ 2  /* plateau-limited histogram equalisation */
#define AGC_MODE_SPECIAL 3 /* linear stretch of the bulk, the hot tail equalised above it */

/* Result codes. */
#define AGC_OK 0
#define AGC_E_NULLPTR (-21) /* a required pointer is null */
#define AGC_E_MEMSIZE (-5)  /* work block smaller than AGC_MEM_SIZE bytes, or not 8-byte aligned */
#define AGC_E_MODE (-12)    /* mode not AGC_MODE_LINE, AGC_MODE_HISTEQ or AGC_MODE_SPECIAL */
#define AGC_E_SIZE (-22)    /* width or height not positive, or more than AGC_MAX_PIXELS pixels */

#define AGC_MEM_SIZE 49280      /* bytes of the work block */
#define AGC_MAX_PIXELS 16777216 /* largest image (4096 x 4096); a stream frame has <= 999,972 */

typedef struct AgcParams {
    int32_t width;  /* pixels per image row */
    int32_t height; /* image rows */
} AgcParams;

/* Points at the context record at the start of the work block. */
typedef struct AgcContext* AgcHandle;

/* Writes AGC_MEM_SIZE to *size (params is not read and may be null).
 * returns: AGC_OK, or AGC_E_NULLPTR when size is null. */
int32_t AGC_GetMemSize(const AgcParams* params, int32_t* size);

/* Sets up the work block for images of params->width x params->height pixels: clears the
 * context, zeroes the table and the histogram, loads the Line mode and its settings and writes the
 * handle to *handle. The block must stay valid, and unmoved, while the handle is used.
 * returns: AGC_OK; AGC_E_NULLPTR when params, block or handle is null; AGC_E_MEMSIZE when
 * blockSize < AGC_MEM_SIZE or block is misaligned; AGC_E_SIZE for an unusable image size. */
int32_t AGC_Create(const AgcParams* params, void* block, int32_t blockSize, AgcHandle* handle);

/* Chooses the mode and reloads its settings (each call restores the same settings).
 * returns: AGC_OK; AGC_E_NULLPTR when handle is null; AGC_E_MODE for an unknown mode. */
int32_t AGC_SetMode(AgcHandle handle, int32_t mode);

/* Converts one image of width x height samples (row after row) into width x height grey bytes.
 * Samples above 16383 count as 16383. Allocates nothing; uses about 100 KB of stack.
 * returns: AGC_OK; AGC_E_NULLPTR when handle, image or gray is null. */
int32_t AGC_Process(AgcHandle handle, const uint16_t* image, uint8_t* gray);

#ifdef __cplusplus
}
#endif

#endif /* KX_PIPELINE_AGC_H_ */
