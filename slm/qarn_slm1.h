/*
 * qarn_slm1 - the receipt line conversion library.
 *
 * One function converts one normalised receipt line (keyword, comma-separated
 * tagged fields, closing ";") into one register command. The driver loads the
 * library at run time from its program folder; a site may replace it with its
 * own build as long as the calling pattern below holds:
 *
 *   sInput        the line, NUL-terminated, in Windows-1252
 *   nInputLength  its length in bytes
 *   sOutput       a writable area of 64 bytes; the command is written there,
 *                 ended by a NUL (63 characters at most). An answer containing
 *                 "ERRO" anywhere means the line cannot be converted and the
 *                 whole receipt is refused. A "|" marks an amount: the driver
 *                 turns the first one into "H" (or "*" on percent lines).
 *   sStatus       a writable area of 10 bytes the library may use; the driver
 *                 never reads it.
 *
 * The return value is not used by the driver (this library returns 0 when it
 * produced a command, 1 when it answered with an error).
 */
#ifndef QARN_SLM1_H
#define QARN_SLM1_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(QARN_SLM1_BUILD)
#define QARN_SLM1_API __declspec(dllexport)
#else
#define QARN_SLM1_API __declspec(dllimport)
#endif
#define QARN_SLM1_CALL __stdcall
#else
#define QARN_SLM1_API __attribute__((visibility("default")))
#define QARN_SLM1_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

QARN_SLM1_API int32_t QARN_SLM1_CALL ConvertSlToXt(const char* sInput, int32_t nInputLength,
                                                   char* sOutput, char* sStatus);

#ifdef __cplusplus
}
#endif

#endif
