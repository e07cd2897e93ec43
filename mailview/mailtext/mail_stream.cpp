// The mail file reader: binary stdio with the text-mode rules applied in one place.
#include "mailview/mailtext/mail_text.h"

namespace {

const int kEndOfData = 0x1A;

}  // namespace

int OpenMailStream(MailStream* stream, const char* path)
{
    stream->file = NULL;
    stream->ended = 0;
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
    int c = fgetc(stream->file);
    if (c == '\r') {
        int next = fgetc(stream->file);
        if (next == '\n')
            return '\n';
        if (next != EOF)
            ungetc(next, stream->file);
        return '\r';
    }
    if (c == kEndOfData) {
        // Left unread, so that the position stays on it and a seek back reads up to it again.
        ungetc(c, stream->file);
        stream->ended = 1;
        return EOF;
    }
    return c;
}

long TellMailStream(MailStream* stream)
{
    return ftell(stream->file);
}

int SeekMailStream(MailStream* stream, long position)
{
    if (position < 0 || fseek(stream->file, position, SEEK_SET) != 0) {
        stream->ended = 1;
        return 0;
    }
    stream->ended = 0;
    return 1;
}

bool MailStreamAtEnd(MailStream* stream)
{
    return stream->ended || feof(stream->file) || ferror(stream->file);
}

long MailStreamRemaining(MailStream* stream)
{
    long here = ftell(stream->file);
    if (here < 0 || fseek(stream->file, 0, SEEK_END) != 0)
        return -1;
    long end = ftell(stream->file);
    if (fseek(stream->file, here, SEEK_SET) != 0) {
        stream->ended = 1;
        return -1;
    }
    return end >= here ? end - here : -1;
}
