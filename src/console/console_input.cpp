// Replies are read one character at a time. Typed replies are read as the platform delivers
// them. A reply from a file or a pipe may start with a byte-order mark, as Windows PowerShell
// writes files and pipes: a UTF-8 mark is skipped, and after a UTF-16LE mark the input is
// read two bytes to a character. Either way the replies mean what they mean without the mark.
#include "console/console.h"
#include "console/input_source.h"

namespace {

enum InputEncoding { EncodingNotChecked, EncodingBytes, EncodingUtf16Le };

const unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
const unsigned char kUtf16LeMark[] = {0xFF, 0xFE};
const int kControlZ = 0x1A;

InputEncoding encoding = EncodingNotChecked;
InputSource source = {false, false};
bool inputEnded = false;

// Bytes read while looking for a mark that turned out not to be one, read again in order.
int heldBytes[3];
int heldCount = 0;
int heldNext = 0;
// The character given back by UnreadInputCharacter, or -1.
int givenBack = -1;

int NextByte() {
    if (heldNext < heldCount) {
        return heldBytes[heldNext++];
    }
    return ReadInputByte();
}

// True when the input starts with mark, which is then dropped; otherwise the bytes read so far
// stay held.
bool TakeMark(const unsigned char* mark, int length) {
    for (int index = 0; index < length; ++index) {
        if (index == heldCount) {
            const int byte = ReadInputByte();
            if (byte < 0) {
                return false;
            }
            heldBytes[heldCount++] = byte;
        }
        if (heldBytes[index] != mark[index]) {
            return false;
        }
    }
    heldCount = 0;
    return true;
}

void FindEncoding() {
    source = OpenInputSource();
    encoding = EncodingBytes;
    if (!source.typed && !TakeMark(kUtf8Mark, 3) && TakeMark(kUtf16LeMark, 2)) {
        encoding = EncodingUtf16Le;
    }
}

// A UTF-16 code unit; a last byte without its pair ends the input.
int NextCodeUnit() {
    const int low = NextByte();
    if (low < 0) {
        return -1;
    }
    const int high = NextByte();
    return high < 0 ? -1 : low | high << 8;
}

} // namespace

int ReadInputCharacter() {
    if (givenBack >= 0) {
        const int character = givenBack;
        givenBack = -1;
        return character;
    }
    if (encoding == EncodingNotChecked) {
        FindEncoding();
    }
    if (inputEnded) {
        return -1;
    }
    const int character = encoding == EncodingUtf16Le ? NextCodeUnit() : NextByte();
    inputEnded = character < 0 || (source.endsAtControlZ && character == kControlZ);
    return inputEnded ? -1 : character;
}

void UnreadInputCharacter(int character) {
    if (character >= 0) {
        givenBack = character;
    }
}
