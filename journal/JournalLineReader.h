#pragma once

#include <QtGlobal>
#include <functional>

// Reads a journal file line by line in chunks, so that a file of any size is looked at in
// bounded memory. A line may be far longer than a chunk: it is passed on in pieces, and
// what the journal needs to know about it is collected on the way.
class JournalLineReader
{
public:
    struct Line
    {
        qint64 start = 0;            // offset of its first byte
        qint64 length = 0;           // without the line break
        bool hasBreak = false;       // false only for a last line without one
        bool closingTag = false;     // holds "</body>" or "</html>"
        bool paragraphOpen = false;  // holds "<p>"
        bool paragraphClose = false; // holds "</p>"
        char head[8];                // its first bytes, headSize of them
        char end[8];                 // its last bytes, endSize of them
        int headSize = 0;
        int endSize = 0;
    };
    static constexpr qint64 chunkBytes = 1 << 20;

    // `bytes` gets the content in order, line breaks included, as (offset, data, size);
    // `line` gets each line once its last byte has been passed on. Either returns false to stop.
    using BytesFn = std::function<bool(qint64, const char*, qint64)>;
    using LineFn = std::function<bool(const Line&)>;

    // Reads the first `size` bytes of the open file. False on a read error or when stopped.
    static bool read(int fd, qint64 size, const BytesFn& bytes, const LineFn& line);
};
