// Functions the program adds to or makes public in the HTTP library, exported
// by plain name for plug-ins.
#ifndef TOLVANE_CIVETWEB_EXT_H
#define TOLVANE_CIVETWEB_EXT_H

#include <stddef.h>

#include "civetweb.h"

#ifdef __cplusplus
extern "C" {
#endif

// Debug log type: only 0, 4 or 5 is ever stored (anything else stores 0).
void mg_set_debug_log_type(int type);
int mg_get_debug_log_type(void);

// The process-wide lock under which every handler call runs.
void mg_global_lock(void);
void mg_global_unlock(void);

int mg_strcasecmp(const char* s1, const char* s2);
int mg_strncasecmp(const char* s1, const char* s2, size_t len);
const char* mg_strcasestr(const char* big_str, const char* small_str);
// Deletes the file at `path` (UTF-8); 0 on success, -1 on failure.
int mg_remove(const struct mg_connection* conn, const char* path);

// 1.17 signatures and results; -1 means success.
// encode: dst gets a zero-terminated text. *dst_len (may be null) is the room
// on entry; on success the length written, terminator included. Too little
// room: returns 0 and *dst_len is the room needed.
// decode: dst gets the bytes and a terminating zero; on success *dst_len is
// their count, terminator included. An invalid character: returns its index
// (0 or more). Too little room: returns 0 and *dst_len is the room needed.
int mg_base64_encode(const unsigned char* src, size_t src_len, char* dst, size_t* dst_len);
int mg_base64_decode(const char* src, size_t src_len, unsigned char* dst, size_t* dst_len);

// The program's own view of a connection (engineadditions.inl), not meant
// for plug-ins. A connection counts as unauthenticated from its acceptance
// until the gate accepts credentials on it; such connections are capped in
// number and their requests must arrive within the head deadline.
void tolvane_connection_authenticated(struct mg_connection* conn);
// What is left of an unauthenticated connection's time for its current
// request, in milliseconds; -1 once authenticated (or when unlimited).
int tolvane_unauthenticated_ms_left(const struct mg_connection* conn);
// Whether the current request's body has been read or lies wholly in the
// engine's buffer, so that discarding it needs no wait.
int tolvane_request_body_buffered(const struct mg_connection* conn);
// The engine's own account of whether the body has been read to its end
// (chunked bodies included).
int tolvane_request_body_complete(const struct mg_connection* conn);
// How much of the body can be read without waiting, after waiting up to
// the given time; 0 when nothing came.
int tolvane_body_bytes_ready(struct mg_connection* conn, int timeout_ms);
// The form handler with a cap on the bytes stored in files; *exceeded is set
// when a file part went over it.
int tolvane_handle_form_request_capped(struct mg_connection* conn, struct mg_form_data_handler* fdh,
                                       long long max_file_bytes, int* exceeded);
// The engine's verdict on the raw path of the request (requesttarget.cpp).
int tolvane_request_target_unsafe(const struct mg_request_info* requestInfo);
// Whether the connection stays open after the current answer.
int tolvane_answer_keeps_alive(const struct mg_connection* conn);
// Whether methods the engine does not know are answered 501 (the standard
// profile) rather than left to the handler.
void tolvane_answer_unknown_methods_501(int on);

#ifdef __cplusplus
}
#endif

#endif
