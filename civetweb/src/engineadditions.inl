/* Additions to the HTTP engine that need its internals: information lines in
 * the error log, the request trace, the method override and the form
 * handling's cap and boundary. A build-time patch includes this file into
 * the engine's source ahead of the request parser and adds the hook calls;
 * everything here is static except the few entry points the program's own
 * files call. */

#if !defined(_WIN32)
#include <sys/ioctl.h>
#endif

/* Defined with the program's own code (debuglogtype.cpp). */
int mg_get_debug_log_type(void);

static int tolvane_info_lines_enabled(void) {
    int type = mg_get_debug_log_type();
    return (type == 4) || (type == 5);
}

/* printf into a buffer, always terminated, cut when too long. */
static void tolvane_vformat(char* buf, size_t buf_len, const char* fmt, va_list ap) {
    int n = vsnprintf_impl(buf, buf_len, fmt, ap);
    if ((n < 0) || ((size_t)n >= buf_len)) {
        buf[buf_len - 1] = '\0';
    }
}

static void tolvane_format(char* buf, size_t buf_len, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    tolvane_vformat(buf, buf_len, fmt, ap);
    va_end(ap);
}

/* Same text as the trace file's time stamp: UTC, nothing zero-padded. */
static void tolvane_time_stamp(char* buf, size_t buf_len) {
    static const char* const weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t now = time(NULL);
    struct tm tm_utc;
#if defined(_WIN32)
    if (gmtime_s(&tm_utc, &now) != 0) {
        buf[0] = '\0';
        return;
    }
#else
    if (gmtime_r(&now, &tm_utc) == NULL) {
        buf[0] = '\0';
        return;
    }
#endif
    tolvane_format(buf, buf_len, "%s %s %d %d:%d:%d UTC %d", weekdays[tm_utc.tm_wday % 7],
                   months[tm_utc.tm_mon % 12], tm_utc.tm_mday, tm_utc.tm_hour, tm_utc.tm_min,
                   tm_utc.tm_sec, tm_utc.tm_year + 1900);
}

/* One information line in the error log. The message is cut at 8191
 * characters like the engine's own buffer; the line is written with one
 * write under the stream lock the engine's error lines use, so lines of
 * different workers never interleave. */
static void tolvane_cry_info(const struct mg_connection* conn, const char* fmt, ...) {
    static const char info_tag[] = "] [info] [client ";
    char msg[8192];
    char stamp[48];
    char src_addr[IP_ADDR_STR_LEN];
    struct mg_file fi;
    va_list ap;
    char* line;
    size_t stamp_len, addr_len, msg_len, line_len, pos;
    const char* log_path;

    va_start(ap, fmt);
    tolvane_vformat(msg, sizeof(msg), fmt, ap);
    va_end(ap);

    if ((conn == NULL) || (conn->phys_ctx == NULL)) {
        puts(msg);
        return;
    }
    if ((conn->phys_ctx->callbacks.log_message != NULL) &&
        (conn->phys_ctx->callbacks.log_message(conn, msg) != 0)) {
        return;
    }

    log_path = (conn->dom_ctx != NULL) ? conn->dom_ctx->config[ERROR_LOG_FILE]
                                       : conn->phys_ctx->dd.config[ERROR_LOG_FILE];
    if ((log_path == NULL) || (*log_path == '\0')) {
        return;
    }

    memset(stamp, 0, sizeof(stamp));
    tolvane_time_stamp(stamp, sizeof(stamp));
    sockaddr_to_string(src_addr, sizeof(src_addr), &conn->client.rsa);

    /* "[" stamp "] [info] [client " address "] " message "\n" */
    stamp_len = strlen(stamp);
    addr_len = strlen(src_addr);
    msg_len = strlen(msg);
    line_len = 1 + stamp_len + (sizeof(info_tag) - 1) + addr_len + 2 + msg_len + 1;
    line = (char*)mg_malloc(line_len);
    if (line == NULL) {
        return;
    }
    pos = 0;
    line[pos++] = '[';
    memcpy(line + pos, stamp, stamp_len);
    pos += stamp_len;
    memcpy(line + pos, info_tag, sizeof(info_tag) - 1);
    pos += sizeof(info_tag) - 1;
    memcpy(line + pos, src_addr, addr_len);
    pos += addr_len;
    line[pos++] = ']';
    line[pos++] = ' ';
    memcpy(line + pos, msg, msg_len);
    pos += msg_len;
    line[pos++] = '\n';

    tolvane_roll_error_log(log_path);
    if (mg_fopen(conn, log_path, MG_FOPEN_MODE_APPEND, &fi) && (fi.access.fp != NULL)) {
        /* Unbuffered: the whole line goes out in a single write. */
        setvbuf(fi.access.fp, NULL, _IONBF, 0);
        flockfile(fi.access.fp);
        (void)fwrite(line, 1, pos, fi.access.fp);
        fflush(fi.access.fp);
        funlockfile(fi.access.fp);
        (void)mg_fclose(&fi.access);
    }
    mg_free(line);
}

/* A request field as far as the request line goes: after a failed parse a
 * field can run on past the line end, and the log must not take in text
 * from further lines. "(null)" stands for a field that was not read. The
 * result is freed by the caller. */
static char* tolvane_request_field(const char* text) {
    size_t len;
    char* copy;

    if (text == NULL) {
        text = "(null)";
    }
    len = strcspn(text, "\r\n");
    copy = (char*)mg_malloc(len + 1);
    if (copy != NULL) {
        memcpy(copy, text, len);
        copy[len] = '\0';
    }
    return copy;
}

/* Once per request read on a connection, whether or not reading succeeded:
 * a request that failed shows "(null)" for what was not read. */
static void tolvane_trace_request(const struct mg_connection* conn) {
    const struct mg_request_info* ri;
    char *method, *uri, *version;
    const char* query;

    if ((conn == NULL) || !tolvane_info_lines_enabled()) {
        return;
    }
    ri = &conn->request_info;
    method = tolvane_request_field(ri->request_method);
    uri = tolvane_request_field(ri->request_uri);
    version = tolvane_request_field(ri->http_version);
    if ((method != NULL) && (uri != NULL) && (version != NULL)) {
        tolvane_cry_info(conn, "Request : HTTP Method : %s   Request URL : %s  HTTP_version : %s",
                         method, uri, version);
        query = (ri->request_uri != NULL) ? strchr(uri, '?') : NULL;
        if (query != NULL) {
            /* The blank flag has no effect on %s; the format is kept as the
             * log has always been written. */
            tolvane_cry_info(conn, "Query string : % s\n", query + 1);
        }
    }
    mg_free(method);
    mg_free(uri);
    mg_free(version);
}

static int get_request(struct mg_connection* conn, char* ebuf, size_t ebuf_len, int* err);

/* A new connection has read no request yet: the engine's lines about it (a
 * failed TLS handshake) must not show the fields of the request the worker
 * served before on another connection. */
static void tolvane_forget_request(struct mg_connection* conn) {
    conn->request_info.request_method = NULL;
    conn->request_info.request_uri = NULL;
    conn->request_info.http_version = NULL;
    conn->request_info.query_string = NULL;
}

/* Whether a request's version is one this engine speaks. */
static int tolvane_is_http1_version(const char* version) {
    return (strcmp(version, "1.0") == 0) || (strcmp(version, "1.1") == 0);
}

/* Reads the next request on a connection and traces it. The engine's error
 * answers repeat the request's version in their status line, so any other
 * version text ("HTTP/2.0", "SPDY/3", "http/1.1", or a field that runs on
 * past the request line after a failed parse) would make that line one no
 * HTTP/1.x client can read, or put the client's further lines into the
 * answer's header. Such a version is dropped, so the answer carries the
 * engine's default version; a request that parsed but names another version
 * gets the engine's 505 answer as before. */
/* Non-zero: a well-formed request whose method the engine does not know is
 * answered 501 (Not Implemented) rather than 400. Set once before start. */
static volatile int tolvane_unknown_method_501 = 0;

void tolvane_answer_unknown_methods_501(int on) {
    tolvane_unknown_method_501 = on;
}

/* Whether `text` is an HTTP token (RFC 9110 tchar), as a method must be. */
static int tolvane_is_token(const char* text) {
    static const char extra[] = "!#$%&'*+-.^_`|~";
    if ((text == NULL) || (*text == '\0')) {
        return 0;
    }
    for (; *text != '\0'; ++text) {
        if (!isalnum((unsigned char)*text) && (strchr(extra, *text) == NULL)) {
            return 0;
        }
    }
    return 1;
}

/* Whether every Content-Length field of the request says the same length in
 * digits alone (trailing blanks aside). A sign, a tail, a list or a second
 * value is read one way by the engine and maybe another by a proxy in front
 * (request smuggling); an empty value names no length at all. */
static int tolvane_content_length_is_clean(const struct mg_connection* conn) {
    const char* first = NULL;
    size_t first_len = 0;
    int i;
    for (i = 0; i < conn->request_info.num_headers; i++) {
        const char* value = conn->request_info.http_headers[i].value;
        size_t len;
        if (mg_strcasecmp(conn->request_info.http_headers[i].name, "Content-Length") != 0) {
            continue;
        }
        len = strspn(value, "0123456789");
        /* 18 digits still fit the engine's 64-bit length. */
        if ((len == 0) || (len > 18) || (value[len + strspn(value + len, " \t")] != '\0')) {
            return 0;
        }
        if ((first != NULL) && ((len != first_len) || (memcmp(first, value, len) != 0))) {
            return 0;
        }
        first = value;
        first_len = len;
    }
    return 1;
}

static void tolvane_waiting_restart_of(const struct mg_connection* conn);

static int tolvane_get_request_traced(struct mg_connection* conn, char* ebuf, size_t ebuf_len,
                                      int* err) {
    int ok;
    /* A waiting connection's time runs per request, from here. */
    if (conn->handled_requests > 0) {
        tolvane_waiting_restart_of(conn);
    }
    ok = get_request(conn, ebuf, ebuf_len, err);
    if ((ok || (*err == 411)) && (conn->request_info.request_method != NULL) &&
        !tolvane_content_length_is_clean(conn)) {
        mg_snprintf(conn, NULL, ebuf, ebuf_len, "%s", "Bad request");
        *err = 400;
        ok = 0;
    }
    if (!ok) {
        /* The engine closes after a refused request; the answer says so. */
        conn->must_close = 1;
    }
    tolvane_trace_request(conn);
    /* The parser stops at an unknown method only after the version passed,
     * so a request line of token, target and HTTP/1.x names a method we do
     * not implement; anything else stays a bad request. */
    if (!ok && (*err == 400) && tolvane_unknown_method_501
        && (conn->request_info.request_method != NULL)
        && (conn->request_info.http_version != NULL)
        && tolvane_is_http1_version(conn->request_info.http_version)
        && tolvane_is_token(conn->request_info.request_method)
        && !is_valid_http_method(conn->request_info.request_method)) {
        mg_snprintf(conn, NULL, ebuf, ebuf_len, "Method not implemented");
        *err = 501;
    }
    if ((conn->request_info.http_version != NULL) &&
        !tolvane_is_http1_version(conn->request_info.http_version)) {
        if (ok) {
            mg_snprintf(conn, NULL, ebuf, ebuf_len, "Bad HTTP version: [%s]",
                        conn->request_info.http_version);
            *err = 505;
            ok = 0;
        }
        conn->request_info.http_version = NULL;
    }
    return ok;
}

/* Whether a header line of its own (not the request line, not a folded line,
 * never text inside another header's value) starts with `text`, exactly. A
 * line starts after a line feed, as the engine's header parser splits lines;
 * the block ends at the first empty line. */
static int tolvane_has_header_line(const char* block, size_t block_len, const char* text) {
    size_t text_len = strlen(text);
    const char* end = block + block_len;
    const char* line = memchr(block, '\n', block_len);

    while (line != NULL) {
        line++; /* past the line feed */
        if ((line >= end) || (*line == '\r') || (*line == '\n')) {
            return 0; /* end of the header block */
        }
        if (((size_t)(end - line) >= text_len) && (memcmp(line, text, text_len) == 0)) {
            return 1;
        }
        line = memchr(line, '\n', (size_t)(end - line));
    }
    return 0;
}

/* Whether the path of a request, once its escapes are decoded, would hold
 * NUL, "?", "#" or a control character. The engine decodes the path in place,
 * where an encoded NUL silently cuts it short, so the raw request line is
 * judged while it is parsed and the verdict kept with the request's
 * information record (requesttarget.cpp) for the handler. */
void tolvane_note_request_target(const void* request_info, int unsafe);

static int tolvane_hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

static int tolvane_judge_target(const char* block, size_t len) {
    size_t i = 0;
    while (i < len && block[i] != ' ' && block[i] != '\r' && block[i] != '\n') {
        ++i; /* the method */
    }
    while (i < len && block[i] == ' ') {
        ++i;
    }
    for (; i < len && block[i] != ' ' && block[i] != '?' && block[i] != '\r' && block[i] != '\n';
         ++i) {
        if (block[i] == '%' && i + 2 < len) {
            int hi = tolvane_hex_digit(block[i + 1]);
            int lo = tolvane_hex_digit(block[i + 2]);
            if (hi >= 0 && lo >= 0) {
                int c = hi * 16 + lo;
                if (c < 0x20 || c == 0x7f || c == '?' || c == '#') {
                    return 1;
                }
            }
        }
    }
    return 0;
}

/* Whether the engine's header parser would silently drop header lines: it
 * stops at a line that starts with a blank (an obsolete folded line,
 * RFC 9112 5.2) and after MG_MAX_HEADERS lines, so a Content-Length after
 * either would frame the body differently than a proxy in front did. */
static int tolvane_drops_header_lines(const char* block, size_t block_len) {
    const char* end = block + block_len;
    const char* line = memchr(block, '\n', block_len);
    int count = 0;

    while (line != NULL) {
        line++; /* past the line feed */
        if ((line >= end) || (*line == '\r') || (*line == '\n')) {
            return 0; /* end of the header block */
        }
        if ((*line == ' ') || (*line == '\t') || (++count > MG_MAX_HEADERS)) {
            return 1;
        }
        line = memchr(line, '\n', (size_t)(end - line));
    }
    return 0;
}

/* The method a request is handled as: a header line starting with the
 * override text replaces the request line's method; PATCH wins over DELETE.
 * A head whose lines the parser would drop gets no valid method, so the
 * engine refuses it (400) and closes. Runs before the block is split in
 * place. */
static const char* tolvane_request_method(const char* header_block, size_t block_len,
                                          const struct mg_request_info* ri) {
    tolvane_note_request_target(ri, tolvane_judge_target(header_block, block_len));
    if (tolvane_drops_header_lines(header_block, block_len)) {
        return "";
    }
    if (tolvane_has_header_line(header_block, block_len, "X-HTTP-Method-Override: PATCH")) {
        return "PATCH";
    }
    if (tolvane_has_header_line(header_block, block_len, "X-HTTP-Method-Override: DELETE")) {
        return "DELETE";
    }
    return header_block;
}

/* The engine's file removal (wide-character paths on Windows), for the
 * exported mg_remove. */
int tolvane_engine_remove(const struct mg_connection* conn, const char* path) {
    (void)conn;
    return mg_remove(conn, path);
}

/* Whether the current request's body has been read to its end: all of a
 * Content-Length body, or a chunked body up to its last chunk. */
int tolvane_request_body_complete(const struct mg_connection* conn) {
    if (conn == NULL) {
        return 0;
    }
    if (conn->is_chunked) {
        /* 3: last chunk seen (trailer may follow), 4: trailer read too */
        return conn->is_chunked >= 3;
    }
    return (conn->content_len <= 0) || (conn->consumed_content >= conn->content_len);
}

/* How many bytes of the current request body can be read now without
 * waiting, after waiting up to timeout_ms for some to come in: the count, 1
 * when only a read can tell (a chunk header, a TLS record, the end of the
 * stream), 0 when nothing came in time. Lets the body be received against a
 * deadline of its own, which one blocking read cannot keep. */
int tolvane_body_bytes_ready(struct mg_connection* conn, int timeout_ms) {
    int64_t ready, in_frame;
    struct mg_pollfd pfd;
    int pending = 0;

    if ((conn == NULL) || (conn->phys_ctx == NULL)) {
        return 0;
    }
    ready = (int64_t)conn->data_len - (int64_t)conn->request_len - conn->consumed_content;
    if (ready <= 0) {
        ready = 0;
#if !defined(NO_SSL)
        if (conn->ssl != NULL) {
            pending = SSL_pending(conn->ssl);
        }
#endif
        if (pending > 0) {
            ready = pending;
        } else {
            memset(&pfd, 0, sizeof(pfd));
            pfd.fd = conn->client.sock;
            pfd.events = POLLIN;
            if (mg_poll(&pfd, 1, timeout_ms, &(conn->phys_ctx->stop_flag)) <= 0) {
                return 0;
            }
            ready = 1;
#if !defined(NO_SSL)
            if (conn->ssl == NULL)
#endif
            {
#if defined(_WIN32)
                u_long avail = 0;
                if ((ioctlsocket(conn->client.sock, FIONREAD, &avail) == 0) && (avail > 0)) {
                    ready = (int64_t)avail;
                }
#else
                int avail = 0;
                if ((ioctl(conn->client.sock, FIONREAD, &avail) == 0) && (avail > 0)) {
                    ready = avail;
                }
#endif
            }
        }
    }
    in_frame = conn->content_len - conn->consumed_content;
    if (conn->is_chunked && (in_frame <= 0)) {
        return 1;
    }
    if ((in_frame > 0) && (ready > in_frame)) {
        ready = in_frame;
    }
    return (ready > INT_MAX) ? INT_MAX : (int)ready;
}

/* Form handling (handle_form.inl, patched): a cap on the bytes stored in
 * files over one request, and the boundary taken from the Content-Type's
 * parameters wherever it stands. */

/* Defined with the program's own code (formrequest.cpp): the boundary of a
 * multipart/form-data Content-Type into `out`; its length, or -1. */
int tolvane_multipart_boundary(const char* content_type, char* out, size_t out_len);

/* RFC 2046: a boundary has 1 to 70 characters. */
#define TOLVANE_MAX_BOUNDARY 70

struct tolvane_form_cap {
    int64_t max_bytes; /* stored in files over the whole request */
    int64_t stored;
    int exceeded;
};

/* Counts `more` bytes about to be stored; true (and remembered) when they
 * would take the request past its cap. Without a cap nothing is refused. */
static int tolvane_form_cap_exceeded(struct tolvane_form_cap* cap, size_t more) {
    if (cap == NULL) {
        return 0;
    }
    if ((int64_t)more > cap->max_bytes - cap->stored) {
        cap->exceeded = 1;
        return 1;
    }
    cap->stored += (int64_t)more;
    return 0;
}

/* The boundary as the engine's form handling keeps it (freed with mg_free),
 * or NULL when the Content-Type names none or is malformed. */
static char* tolvane_form_boundary(const char* content_type) {
    char* boundary = (char*)mg_malloc(TOLVANE_MAX_BOUNDARY + 1);
    if ((boundary != NULL) &&
        (tolvane_multipart_boundary(content_type, boundary, TOLVANE_MAX_BOUNDARY + 1) < 0)) {
        mg_free(boundary);
        boundary = NULL;
    }
    return boundary;
}

static int tolvane_handle_form(struct mg_connection* conn, struct mg_form_data_handler* fdh,
                               struct tolvane_form_cap* cap);

int mg_handle_form_request(struct mg_connection* conn, struct mg_form_data_handler* fdh) {
    return tolvane_handle_form(conn, fdh, NULL);
}

/* mg_handle_form_request with at most `max_file_bytes` stored in files over
 * the whole request: reading stops at the piece that would pass it, the file
 * is closed and removed, the result is -1 and *exceeded is set. */
int tolvane_handle_form_request_capped(struct mg_connection* conn, struct mg_form_data_handler* fdh,
                                       long long max_file_bytes, int* exceeded) {
    struct tolvane_form_cap cap;
    int result;

    cap.max_bytes = (int64_t)max_file_bytes;
    cap.stored = 0;
    cap.exceeded = 0;
    result = tolvane_handle_form(conn, fdh, &cap);
    if (exceeded != NULL) {
        *exceeded = cap.exceeded;
    }
    return result;
}

/* Connection limits of the program's server object (connectionlimits.cpp):
 * the cap on one client address's open connections, the request head's own
 * deadline, and the connections that have not yet authenticated ("waiting"
 * ones): how many there may be, and how long each may take for a request.
 * Only server contexts are limited, never the client side. Sockets travel as
 * intptr_t so the same interface serves POSIX and Windows. */
int tolvane_client_connection_admit(const struct mg_context* ctx, const char* address,
                                    intptr_t sock, void (*end_socket)(intptr_t sock));
void tolvane_client_connection_release(const struct mg_context* ctx, const char* address);
int tolvane_request_head_timeout_ms(const struct mg_context* ctx);
void tolvane_waiting_restart(const struct mg_context* ctx, intptr_t sock);
void tolvane_waiting_forget(const struct mg_context* ctx, intptr_t sock);
void tolvane_address_proven(const struct mg_context* ctx, const char* address);
int tolvane_waiting_ms_left(const struct mg_context* ctx, intptr_t sock);

static int tolvane_is_server(const struct mg_connection* conn) {
    return (conn != NULL) && (conn->phys_ctx != NULL) &&
           (conn->phys_ctx->context_type == CONTEXT_SERVER);
}

/* Ends a waiting connection that has to make room: its worker's next read
 * or handshake step fails at once and the worker closes it as usual. */
static void tolvane_end_socket(intptr_t sock) {
    shutdown((SOCKET)sock, SHUTDOWN_BOTH);
}

static int tolvane_admit_socket(struct mg_context* ctx, const struct socket* so) {
    char address[IP_ADDR_STR_LEN];
    sockaddr_to_string(address, sizeof(address), &so->rsa);
    return tolvane_client_connection_admit(ctx, address, (intptr_t)so->sock, tolvane_end_socket);
}

static void tolvane_release_socket(struct mg_context* ctx, const struct socket* so) {
    char address[IP_ADDR_STR_LEN];
    sockaddr_to_string(address, sizeof(address), &so->rsa);
    tolvane_client_connection_release(ctx, address);
}

static void tolvane_waiting_restart_of(const struct mg_connection* conn) {
    if (tolvane_is_server(conn)) {
        tolvane_waiting_restart(conn->phys_ctx, (intptr_t)conn->client.sock);
    }
}

/* Called before the socket is closed, so the count never names a socket
 * number the system may already have given to a new connection. */
static void tolvane_connection_closing(struct mg_connection* conn) {
    if (tolvane_is_server(conn) && (conn->client.sock != INVALID_SOCKET)) {
        tolvane_waiting_forget(conn->phys_ctx, (intptr_t)conn->client.sock);
    }
}

/* The gate has accepted the credentials of a request on this connection:
 * it no longer counts as waiting and gets the ordinary deadlines. */
void tolvane_connection_authenticated(struct mg_connection* conn) {
    tolvane_connection_closing(conn);
    if (tolvane_is_server(conn)) {
        tolvane_address_proven(conn->phys_ctx, conn->request_info.remote_addr);
    }
}

/* Milliseconds left for the current request of a connection that has not
 * authenticated (handshake, head and body together); -1 for any other. */
int tolvane_unauthenticated_ms_left(const struct mg_connection* conn) {
    if (!tolvane_is_server(conn)) {
        return -1;
    }
    return tolvane_waiting_ms_left(conn->phys_ctx, (intptr_t)conn->client.sock);
}

/* The shorter of the engine's time-out (seconds, < 0: none) and the head's
 * deadline: what is left of the waiting connection's time, else the head
 * deadline itself. */
static double tolvane_head_timeout(const struct mg_connection* conn, double request_timeout) {
    int head_ms;
    double head;
    if (!tolvane_is_server(conn)) {
        return request_timeout;
    }
    head_ms = tolvane_unauthenticated_ms_left(conn);
    if (head_ms < 0) {
        head_ms = tolvane_request_head_timeout_ms(conn->phys_ctx);
        if (head_ms <= 0) {
            return request_timeout;
        }
    }
    /* Time used up: the next wait ends at once. */
    head = (head_ms > 0) ? head_ms / 1000.0 : 0.001;
    return ((request_timeout < 0.0) || (head < request_timeout)) ? head : request_timeout;
}

/* The TLS handshake's time-out in milliseconds, within the head's deadline. */
static unsigned tolvane_handshake_timeout(const struct mg_connection* conn, unsigned timeout_ms) {
    const double seconds = tolvane_head_timeout(conn, timeout_ms / 1000.0);
    return (unsigned)(seconds * 1000.0);
}

/* The body of the current request lies wholly in the engine's buffer (or
 * has been read): the engine can discard it without waiting for a byte. */
int tolvane_request_body_buffered(const struct mg_connection* conn) {
    if (conn == NULL) {
        return 0;
    }
    if (conn->is_chunked) {
        return conn->is_chunked >= 3;
    }
    return (conn->content_len <= 0) || (conn->consumed_content >= conn->content_len) ||
           ((conn->request_len + conn->content_len) <= conn->data_len);
}

/* Whether the request frames its body in more than one way: two
 * Content-Length or Transfer-Encoding fields, or one of each. A proxy in
 * front may have read another body than the engine did (request smuggling),
 * so nothing after such a request is taken from the connection. */
static int tolvane_framing_is_ambiguous(const struct mg_connection* conn) {
    int i, lengths = 0, encodings = 0;
    for (i = 0; i < conn->request_info.num_headers; i++) {
        const char* name = conn->request_info.http_headers[i].name;
        if (mg_strcasecmp(name, "Content-Length") == 0) {
            lengths++;
        } else if (mg_strcasecmp(name, "Transfer-Encoding") == 0) {
            encodings++;
        }
    }
    return (lengths > 1) || (encodings > 1) || ((lengths > 0) && (encodings > 0));
}

/* Whether the engine will keep the connection open after the current
 * answer: the same test it makes once the handler returns (keep-alive
 * enabled and wanted, the request body read to its end), and the request's
 * body framed one way only. */
int tolvane_answer_keeps_alive(const struct mg_connection* conn) {
    if (conn == NULL) {
        return 0;
    }
    return STOP_FLAG_IS_ZERO(&conn->phys_ctx->stop_flag) && should_keep_alive(conn)
           && !tolvane_framing_is_ambiguous(conn)
           && (conn->content_len >= 0) && (conn->request_len > 0)
           && ((conn->is_chunked == 4)
               || (!conn->is_chunked
                   && ((conn->consumed_content == conn->content_len)
                       || ((conn->request_len + conn->content_len) <= conn->data_len))))
           && (conn->protocol_type == PROTOCOL_TYPE_HTTP1);
}
