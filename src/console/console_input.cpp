#include "console/console.h"

#include <cstdio>

int ReadInputCharacter() {
    const int character = std::getchar();
    return character == EOF ? -1 : character;
}

void UnreadInputCharacter(int character) {
    if (character >= 0) {
        std::ungetc(character, stdin);
    }
}
