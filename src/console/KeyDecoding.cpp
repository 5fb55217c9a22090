#include "KeyDecoding.h"

#include "jobs/Utf8.h"

namespace stereotools {
namespace {

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
    } else if (code >= kFirstPrintable && !(code >= kFirstC1 && code <= kLastC1)) {
        key.kind = Key::Kind::Character;
        key.character = code > kLastCodePoint || IsSurrogate(code) ? U'\uFFFD' : code;
        key.bytes = EncodeUtf8(key.character);
    }
    return key;
}

}  // namespace stereotools
