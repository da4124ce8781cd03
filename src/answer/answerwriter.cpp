#include "answer/answerwriter.h"

#include <vector>

#include "answer/classichead.h"
#include "answer/libraryhead.h"
#include "civetweb.h"
#include "civetweb_ext.h"
#include "postrules.h"
#include "protocol/protocolprofile.h"

namespace {

constexpr size_t kFilePieceBytes = 64 * 1024;

// All of `size` bytes, or fewer when the client went away; -1 when a write
// failed.
long long writeAll(struct mg_connection* conn, const char* data, size_t size) {
    size_t written = 0;
    while (written < size) {
        const int n = mg_write(conn, data + written, size - written);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        written += static_cast<size_t>(n);
    }
    return static_cast<long long>(written);
}

// `head`, then the file in pieces: never the whole file in memory. The file's
// bytes sent, or -1 when a write failed.
long long streamFile(struct mg_connection* conn, const std::string& head, std::FILE* file) {
    if (writeAll(conn, head.data(), head.size()) != static_cast<long long>(head.size()))
        return -1;
    std::vector<char> piece(kFilePieceBytes);
    long long total = 0;
    for (;;) {
        const size_t n = std::fread(piece.data(), 1, piece.size(), file);
        if (n == 0)
            return total;
        const long long written = writeAll(conn, piece.data(), n);
        if (written < 0)
            return -1;
        total += written;
        if (static_cast<size_t>(written) < n)
            return total; // the client went away; nothing more will arrive
    }
}

// Head and body in one write: one system call and one packet fewer.
long long sendWithHead(struct mg_connection* conn, std::string head, const std::string& body) {
    const size_t headSize = head.size();
    head += body;
    const long long written = writeAll(conn, head.data(), head.size());
    if (written < 0)
        return -1;
    return written > static_cast<long long>(headSize) ? written - static_cast<long long>(headSize)
                                                      : 0;
}

long long sendClassic(struct mg_connection* conn, const Answer& answer) {
    if (answer.classicHead == Answer::ClassicHead::Library) {
        ResponseHead head(conn);
        if (head.start(answer.status) != 0)
            return -1;
        for (const auto& [name, value] : answer.headers)
            head.add(name, value);
        if (head.send() != 0)
            return -1;
        return answer.file ? streamFile(conn, "", answer.file.get())
                           : writeAll(conn, answer.body.data(), answer.body.size());
    }
    // The fixed head names the content type first, then any other field.
    std::string contentType;
    HeaderList extra;
    bool typed = false;
    for (const auto& header : answer.headers) {
        if (!typed && equalsIgnoreCase(header.first, "Content-Type")) {
            contentType = header.second;
            typed = true;
        } else {
            extra.push_back(header);
        }
    }
    std::string head;
    head.reserve(96 + (answer.file ? 0 : answer.body.size()));
    appendResponseHead(head, answer.status, contentType.c_str(), extra);
    if (answer.file)
        return streamFile(conn, head, answer.file.get());
    return sendWithHead(conn, std::move(head), answer.body);
}

long long sendStandard(struct mg_connection* conn, Answer answer) {
    const AnswerContext context = answerContextOf(conn);
    if (!context.keepAlive)
        mg_disable_connection_keep_alive(conn);
    bool sendBody = false;
    std::string head = standardAnswerHead(context, answer, &sendBody);
    if (!sendBody)
        return sendWithHead(conn, std::move(head), std::string());
    if (!answer.file)
        return sendWithHead(conn, std::move(head), answer.body);
    const long long length = answerBodyLength(answer);
    const long long sent = streamFile(conn, head, answer.file.get());
    // A file that changed its length under way leaves the framing unknown.
    if (sent != length)
        mg_disable_connection_keep_alive(conn);
    return sent;
}

} // namespace

AnswerContext answerContextOf(struct mg_connection* conn) {
    AnswerContext context;
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (ri) {
        context.method = ri->request_method ? ri->request_method : "";
        context.path = ri->local_uri ? ri->local_uri : "";
        context.tls = ri->is_ssl != 0;
    }
    const char* ifNoneMatch = mg_get_header(conn, "If-None-Match");
    context.ifNoneMatch = ifNoneMatch ? ifNoneMatch : "";
    context.keepAlive = tolvane_answer_keeps_alive(conn) != 0;
    return context;
}

long long sendAnswer(struct mg_connection* conn, Answer answer) {
    if (profileRules().standardAnswers)
        return sendStandard(conn, std::move(answer));
    return sendClassic(conn, answer);
}
