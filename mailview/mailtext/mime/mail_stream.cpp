// The mail file reader: binary stdio with the text-mode rules applied in one place.
#include <climits>
#include <cstring>

#include "mailview/mailtext/mime/mail_text.h"

namespace {

const int kEndOfData = 0x1A;

// The next byte, or EOF at the end of the file or on a read error.
int NextByte(MailStream* stream)
{
    if (stream->windowPos >= stream->windowLength) {
        if (stream->file && ferror(stream->file))
            return EOF;
        stream->windowStart += stream->windowLength;
        if (stream->file) {
            stream->windowLength = static_cast<int>(fread(stream->window, 1, kMailStreamWindow, stream->file));
        } else {
            const long left = stream->byteCount - stream->windowStart;
            stream->windowLength = left <= 0 ? 0 : left < kMailStreamWindow ? static_cast<int>(left) : kMailStreamWindow;
            if (stream->windowLength > 0)
                std::memcpy(stream->window, stream->bytes + stream->windowStart, stream->windowLength);
        }
        stream->windowPos = 0;
        if (stream->windowLength <= 0) {
            stream->windowLength = 0;
            return EOF;
        }
    }
    return stream->window[stream->windowPos++];
}

// Gives back the byte NextByte just handed out; it is still in the window.
void PutBack(MailStream* stream)
{
    if (stream->windowPos > 0)
        --stream->windowPos;
}

}  // namespace

int OpenMailStream(MailStream* stream, const char* path)
{
    stream->file = NULL;
    stream->bytes = NULL;
    stream->byteCount = 0;
    stream->ended = 0;
    stream->windowStart = 0;
    stream->windowLength = 0;
    stream->windowPos = 0;
    if (!path)
        return 0;
    FILE* file = fopen(path, "rb");
    if (!file)
        return 0;
    // Some systems open a directory as a stream that fails at the first read; such a
    // path counts as a file that can't be opened, as it does on Windows.
    if ((fgetc(file) == EOF && ferror(file)) || fseek(file, 0, SEEK_SET) != 0) {
        fclose(file);
        return 0;
    }
    stream->file = file;
    return 1;
}

int OpenMailStreamOnBytes(MailStream* stream, const unsigned char* bytes, size_t count)
{
    OpenMailStream(stream, NULL);
    if (!bytes || count > static_cast<size_t>(LONG_MAX))
        return 0;
    stream->bytes = bytes;
    stream->byteCount = static_cast<long>(count);
    return 1;
}

void CloseMailStream(MailStream* stream)
{
    if (stream->file)
        fclose(stream->file);
    stream->file = NULL;
}

int ReadMailChar(MailStream* stream)
{
    if (stream->ended)
        return EOF;
    int c = NextByte(stream);
    if (c == '\r') {
        int next = NextByte(stream);
        if (next == '\n')
            return '\n';
        if (next != EOF)
            PutBack(stream);
        return '\r';
    }
    if (c == kEndOfData) {
        // Left unread, so that the position stays on it and a seek back reads up to it again.
        PutBack(stream);
        stream->ended = 1;
        return EOF;
    }
    return c;
}

long TellMailStream(MailStream* stream)
{
    return stream->windowStart + stream->windowPos;
}

int SeekMailStream(MailStream* stream, long position)
{
    if (position < 0) {
        stream->ended = 1;
        return 0;
    }
    // Within the window: no read, no seek.
    if (position >= stream->windowStart && position <= stream->windowStart + stream->windowLength) {
        stream->windowPos = static_cast<int>(position - stream->windowStart);
        stream->ended = 0;
        return 1;
    }
    if (stream->file && fseek(stream->file, position, SEEK_SET) != 0) {
        stream->ended = 1;
        return 0;
    }
    stream->windowStart = position;
    stream->windowLength = 0;
    stream->windowPos = 0;
    stream->ended = 0;
    return 1;
}

bool MailStreamAtEnd(MailStream* stream)
{
    if (!stream->file)
        return stream->ended || (stream->windowPos >= stream->windowLength &&
                                 stream->windowStart + stream->windowLength >= stream->byteCount);
    return stream->ended || ferror(stream->file) ||
           (stream->windowPos >= stream->windowLength && feof(stream->file));
}

bool MailStreamFailed(MailStream* stream)
{
    return stream->file && ferror(stream->file);
}

long MailStreamRemaining(MailStream* stream)
{
    long here = TellMailStream(stream);
    if (!stream->file)
        return stream->byteCount >= here ? stream->byteCount - here : -1;
    long filePosition = ftell(stream->file);
    if (filePosition < 0 || fseek(stream->file, 0, SEEK_END) != 0)
        return -1;
    long end = ftell(stream->file);
    if (fseek(stream->file, filePosition, SEEK_SET) != 0) {
        stream->ended = 1;
        return -1;
    }
    return end >= here ? end - here : -1;
}
