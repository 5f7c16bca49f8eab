#include "mail/MessageFromParts.h"

// The project builds with QT_NO_KEYWORDS, so glib's struct member "signals" does not clash
// with Qt's macro and both headers may meet here.
#include <gmime/gmime.h>

#include <memory>

namespace {

struct GObjectUnref {
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// The boundary of the multipart the header declares, read by the same parser that reads the
// rebuilt message; empty when it declares none.
QByteArray declaredBoundary(const QByteArray& header)
{
    static const bool initialised = [] {
        g_mime_init();
        return true;
    }();
    (void)initialised;
    const QByteArray headerOnly =
        header.endsWith("\n\n") || header.endsWith("\r\n\r\n") ? header : header + "\r\n";
    GObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(headerOnly.constData(), size_t(headerOnly.size())));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message)
        return QByteArray();
    GMimeObject* body = g_mime_message_get_mime_part(message.get());
    if (!body || !GMIME_IS_MULTIPART(body))
        return QByteArray();
    const char* boundary = g_mime_multipart_get_boundary(GMIME_MULTIPART(body));
    // For a multipart that declares none the parser makes one up: such a message has no parts.
    if (!boundary || !*boundary || !header.contains(boundary))
        return QByteArray();
    return QByteArray(boundary);
}

bool holdsDelimiter(const QByteArray& bytes, const QByteArray& delimiter)
{
    if (bytes.startsWith(delimiter))
        return true;
    return bytes.contains('\n' + delimiter);
}

} // namespace

std::optional<QByteArray> MessageFromParts::assemble(const QByteArray& header, const QList<Part>& parts)
{
    const QByteArray boundary = declaredBoundary(header);
    if (boundary.isEmpty())
        return std::nullopt;
    const QByteArray delimiter = "--" + boundary;
    qsizetype size = header.size() + 2 * delimiter.size() + 8;
    for (const Part& part : parts) {
        // A line starting with the delimiter would end the part early (or start another).
        if (holdsDelimiter(part.mimeHeader, delimiter) || holdsDelimiter(part.body, delimiter))
            return std::nullopt;
        size += part.mimeHeader.size() + part.body.size() + delimiter.size() + 6;
    }
    QByteArray out;
    out.reserve(size);
    out += header;
    if (!header.endsWith("\n\n") && !header.endsWith("\r\n\r\n"))
        out += "\r\n";
    for (const Part& part : parts) {
        out += delimiter + "\r\n";
        out += part.mimeHeader.isEmpty() ? QByteArray("\r\n") : part.mimeHeader;
        out += part.body;
        out += "\r\n";
    }
    out += delimiter + "--\r\n";
    return out;
}
