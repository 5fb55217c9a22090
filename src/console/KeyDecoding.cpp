#include "KeyDecoding.h"

#include "system/Utf8.h"

namespace stereotools {
namespace {

// The control codes of Ctrl and a letter: the letter's place in the alphabet.
constexpr char32_t kCtrlA = 0x01;
constexpr char32_t kCtrlD = 0x04;
constexpr char32_t kCtrlE = 0x05;
constexpr char32_t kCtrlK = 0x0B;
constexpr char32_t kCtrlU = 0x15;
constexpr char32_t kCtrlW = 0x17;
constexpr char32_t kBackspaceCode = 0x08;
constexpr char32_t kEscapeCode = 0x1B;
constexpr char32_t kDeleteCode = 0x7F;
constexpr char32_t kFirstPrintable = 0x20;
// C1 control codes: DEL and U+0080 to U+009F.
constexpr char32_t kFirstC1 = 0x7F;
constexpr char32_t kLastC1 = 0x9F;
constexpr char32_t kLastCodePoint = 0x10FFFF;

bool IsSurrogate(char32_t code) { return code >= 0xD800 && code <= 0xDFFF; }

}  // namespace

Key KeyForCharacter(char32_t code) {
    Key key;
    if (code == U'\n' || code == U'\r') {
        key.kind = Key::Kind::Enter;
    } else if (code == kDeleteCode || code == kBackspaceCode) {
        key.kind = Key::Kind::Backspace;
    } else if (code == kEscapeCode) {
        key.kind = Key::Kind::Escape;
    } else if (code == U'\t') {
        key.kind = Key::Kind::Tab;
    } else if (code == kCtrlA) {
        key.kind = Key::Kind::CtrlA;
    } else if (code == kCtrlD) {
        key.kind = Key::Kind::CtrlD;
    } else if (code == kCtrlE) {
        key.kind = Key::Kind::CtrlE;
    } else if (code == kCtrlK) {
        key.kind = Key::Kind::CtrlK;
    } else if (code == kCtrlU) {
        key.kind = Key::Kind::CtrlU;
    } else if (code == kCtrlW) {
        key.kind = Key::Kind::CtrlW;
    } else if (code >= kFirstPrintable && !(code >= kFirstC1 && code <= kLastC1)) {
        key.kind = Key::Kind::Character;
        key.character = code > kLastCodePoint || IsSurrogate(code) ? U'\uFFFD' : code;
        key.bytes = EncodeUtf8(key.character);
    }
    return key;
}

}  // namespace stereotools
