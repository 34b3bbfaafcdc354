// Replies are read one character at a time. Typed replies are read as the platform delivers
// them. A reply from a file or a pipe may start with a byte-order mark, as Windows PowerShell
// writes files and pipes: a UTF-8 mark is skipped, and after a UTF-16LE mark the input is
// read two bytes to a character. Either way the replies mean what they mean without the mark.
#include "console/console.h"
#include "console/input_source.h"

namespace {

enum InputEncoding { kEncodingNotChecked, kEncodingBytes, kEncodingUtf16Le };

const unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
const unsigned char kUtf16LeMark[] = {0xFF, 0xFE};
const int kControlZ = 0x1A;

InputEncoding gEncoding = kEncodingNotChecked;
InputSource gSource = {false, false};
bool gInputEnded = false;

// Bytes read while looking for a mark that turned out not to be one, read again in order.
int gHeldBytes[3];
int gHeldCount = 0;
int gHeldNext = 0;
// The character given back by UnreadInputCharacter, or -1.
int gGivenBack = -1;

int NextByte() {
    if (gHeldNext < gHeldCount) {
        return gHeldBytes[gHeldNext++];
    }
    return ReadInputByte();
}

// True when the input starts with mark, which is then dropped; otherwise the bytes read so far
// stay held.
bool TakeMark(const unsigned char* mark, int length) {
    for (int index = 0; index < length; ++index) {
        if (index == gHeldCount) {
            const int byte = ReadInputByte();
            if (byte < 0) {
                return false;
            }
            gHeldBytes[gHeldCount++] = byte;
        }
        if (gHeldBytes[index] != mark[index]) {
            return false;
        }
    }
    gHeldCount = 0;
    return true;
}

void FindEncoding() {
    gSource = OpenInputSource();
    gEncoding = kEncodingBytes;
    if (!gSource.typed && !TakeMark(kUtf8Mark, 3) && TakeMark(kUtf16LeMark, 2)) {
        gEncoding = kEncodingUtf16Le;
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
    if (gGivenBack >= 0) {
        const int character = gGivenBack;
        gGivenBack = -1;
        return character;
    }
    if (gEncoding == kEncodingNotChecked) {
        FindEncoding();
    }
    if (gInputEnded) {
        return -1;
    }
    const int character = gEncoding == kEncodingUtf16Le ? NextCodeUnit() : NextByte();
    gInputEnded = character < 0 || (gSource.endsAtControlZ && character == kControlZ);
    return gInputEnded ? -1 : character;
}

void UnreadInputCharacter(int character) {
    if (character >= 0) {
        gGivenBack = character;
    }
}
