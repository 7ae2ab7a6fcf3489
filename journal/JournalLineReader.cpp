#include "journal/JournalLineReader.h"

#include "journal/FileIo.h"

#include <QByteArray>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// Bytes after the '<' of the longest mark looked for, "/body>".
constexpr int kLookahead = 6;

bool matchesAt(const char* at, const char* bufferEnd, const char* text)
{
    const size_t n = std::strlen(text);
    return size_t(bufferEnd - at) >= n && std::memcmp(at, text, n) == 0;
}

void noteEdges(JournalLineReader::Line* line, const char* data, int size)
{
    const int edge = int(sizeof line->head);
    if (line->headSize < edge) {
        const int n = qMin(size, edge - line->headSize);
        std::memcpy(line->head + line->headSize, data, size_t(n));
        line->headSize += n;
    }
    if (size >= edge) {
        std::memcpy(line->end, data + size - edge, size_t(edge));
        line->endSize = edge;
        return;
    }
    const int keep = qMin(line->endSize, edge - size);
    std::memmove(line->end, line->end + line->endSize - keep, size_t(keep));
    std::memcpy(line->end + keep, data, size_t(size));
    line->endSize = keep + size;
}

} // namespace

bool JournalLineReader::read(int fd, qint64 size, const BytesFn& bytes, const LineFn& line)
{
    // The marks are looked for up to kLookahead bytes past what a round hands on; those
    // bytes stay at the front of the buffer for the next round.
    QByteArray buffer(int(chunkBytes) + kLookahead, Qt::Uninitialized);
    char* const buf = buffer.data();
    qint64 next = 0;
    int kept = 0;
    Line current;
    for (;;) {
        const qint64 n = qMin(chunkBytes, size - next);
        if (n > 0 && !FileIo::readAt(fd, buf + kept, n, next))
            return false;
        next += n;
        const int have = kept + int(n);
        const qint64 base = next - have; // offset of buf[0]
        const bool last = next >= size;
        const int limit = last ? have : have - kLookahead;
        const char* const bufferEnd = buf + have;
        int p = 0;
        while (p < limit) {
            const char* const nl = static_cast<const char*>(std::memchr(buf + p, '\n', size_t(limit - p)));
            const int e = nl ? int(nl - buf) : limit;
            for (const char* q = buf + p;
                 (q = static_cast<const char*>(std::memchr(q, '<', size_t(buf + e - q)))); ++q) {
                if (matchesAt(q, bufferEnd, "<p>"))
                    current.paragraphOpen = true;
                else if (matchesAt(q, bufferEnd, "</p>"))
                    current.paragraphClose = true;
                else if (matchesAt(q, bufferEnd, "</body>") || matchesAt(q, bufferEnd, "</html>"))
                    current.closingTag = true;
            }
            noteEdges(&current, buf + p, e - p);
            current.length += e - p;
            const int through = nl ? e + 1 : e;
            if (bytes && through > p && !bytes(base + p, buf + p, through - p))
                return false;
            p = through;
            if (nl) {
                current.hasBreak = true;
                if (line && !line(current))
                    return false;
                current = Line();
                current.start = base + p;
            }
        }
        if (last)
            break;
        kept = have - limit;
        std::memmove(buf, buf + limit, size_t(kept));
    }
    if (current.length > 0 && line && !line(current))
        return false;
    return true;
}
