#include "KeyDecoding.h"
#include "TerminalState.h"
#include "system/Signals.h"
#include "system/Utf8.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace stereotools {
namespace {

// Key codes of our own for the marks a terminal puts around pasted text.
constexpr int kPasteBeginCode = KEY_MAX + 1;
constexpr int kPasteEndCode = KEY_MAX + 2;
constexpr const char* kPasteBeginMark = "\033[200~";
constexpr const char* kPasteEndMark = "\033[201~";
// A paste whose end mark has not come after this long of silence ends there.
constexpr int kPasteSilenceMs = 2000;
// Pasted bytes kept: far more than the longest answer takes.
constexpr std::size_t kMaxPasteBytes = 1 << 16;
// The rest of a character's UTF-8 sequence comes at once; a byte that waits
// longer than this is no part of it.
constexpr int kSequenceWaitMs = 50;
constexpr int kMillisecondsPerSecond = 1000;
constexpr long kNanosecondsPerMillisecond = 1000000L;

// Returns the key that curses key code `code` stands for.
Key KeyForCode(wint_t code) {
    struct Named {
        wint_t code;
        Key::Kind kind;
    };
    static constexpr Named kNamed[] = {
        {KEY_ENTER, Key::Kind::Enter}, {KEY_BACKSPACE, Key::Kind::Backspace},
        {KEY_LEFT, Key::Kind::Left},   {KEY_RIGHT, Key::Kind::Right},
        {KEY_UP, Key::Kind::Up},       {KEY_DOWN, Key::Kind::Down},
        {KEY_HOME, Key::Kind::Home},   {KEY_END, Key::Kind::End},
        {KEY_DC, Key::Kind::Delete},
    };
    Key key;
    for (const Named& named : kNamed)
        if (named.code == code) key.kind = named.kind;
    return key;
}

}  // namespace

void DefinePasteKeys() {
    define_key(kPasteBeginMark, kPasteBeginCode);
    define_key(kPasteEndMark, kPasteEndCode);
}

int TerminalConsole::State::ReadCharacter(wint_t& code, std::string& bytes) {
    // wget_wch, given a byte that starts no character, goes on taking every
    // byte that has come, Enter included, and then drops them all: a name
    // with such a byte, typed quickly, would never end. So the bytes are
    // read one at a time and put together here.
    bytes.clear();
    const int lead = wgetch(pad);
    if (lead == ERR) return ERR;
    if (lead >= KEY_MIN) {
        code = static_cast<wint_t>(lead);
        return KEY_CODE_YES;
    }
    bytes.push_back(static_cast<char>(lead));
    const std::size_t length = Utf8SequenceLength(static_cast<unsigned char>(lead));
    while (bytes.size() < length) {
        int next = wgetch(pad);
        if (next == ERR && WaitForInput(kSequenceWaitMs) == Wait::Ready) next = wgetch(pad);
        if (next == ERR) break;
        // A key code past a byte is no part of the sequence.
        if (next > 0xFF || !IsUtf8Continuation(static_cast<unsigned char>(next))) {
            ungetch(next);
            break;
        }
        bytes.push_back(static_cast<char>(next));
    }
    // A sequence cut short or malformed gives its first byte alone; the
    // bytes after it are read again, each on its own.
    const Utf8Character first = SplitUtf8(bytes).front();
    for (std::size_t i = bytes.size(); i > first.length; --i) ungetch(static_cast<unsigned char>(bytes[i - 1]));
    bytes.resize(first.length);
    code = static_cast<wint_t>(first.codePoint);
    return OK;
}

Key TerminalConsole::State::End(int status) {
    ended = true;
    endedKey = Key{};
    endedKey.kind = Key::Kind::Ended;
    endedKey.exitStatus = status;
    return endedKey;
}

TerminalConsole::State::Wait TerminalConsole::State::WaitForInput(int timeoutMs) {
    // The stop signals are blocked between the check and the wait so none is
    // missed; a pending one returns Ready for the caller to see it.
    const sigset_t stops = StopSignalSet();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stops, &previous);
    if (PendingStopSignal() != 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        return Wait::Ready;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    timespec limit{timeoutMs / kMillisecondsPerSecond,
                   static_cast<long>(timeoutMs % kMillisecondsPerSecond) * kNanosecondsPerMillisecond};
    const int ready = ppoll(&input, 1, timeoutMs < 0 ? nullptr : &limit, &previous);
    const int error = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (ready < 0) return error == EINTR ? Wait::Ready : Wait::Ended;
    if (ready == 0) return Wait::TimedOut;
    if ((input.revents & (POLLERR | POLLNVAL)) != 0) return Wait::Ended;
    if ((input.revents & POLLIN) != 0) {
        // Readable with nothing to read is the end of the input.
        int waiting = 0;
        if (ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting == 0) return Wait::Ended;
        return Wait::Ready;
    }
    if ((input.revents & POLLHUP) != 0) return Wait::Ended;
    return Wait::Ready;
}

Key TerminalConsole::State::ReadPaste() {
    Key paste;
    paste.kind = Key::Kind::Paste;
    for (;;) {
        if (int signal = PendingStopSignal()) return End(ExitStatusForSignal(signal));
        wint_t code = 0;
        std::string bytes;
        const int got = ReadCharacter(code, bytes);
        if (got == KEY_CODE_YES) {
            if (static_cast<int>(code) == kPasteEndCode) return paste;
            if (code == KEY_RESIZE) HandleResize();
            // Other keys inside a paste carry no text.
            continue;
        }
        if (got == OK) {
            if (paste.bytes.size() < kMaxPasteBytes) paste.bytes += bytes;
            continue;
        }
        const Wait wait = WaitForInput(kPasteSilenceMs);
        if (wait == Wait::Ended) return End(1);
        // The end mark got lost: what came is the paste.
        if (wait == Wait::TimedOut) return paste;
    }
}

Key TerminalConsole::ReadKey() {
    State& s = *state_;
    if (s.ended) return s.endedKey;
    if (!s.open) return s.End(1);
    for (;;) {
        if (int signal = PendingStopSignal()) return s.End(ExitStatusForSignal(signal));
        s.Present();
        wint_t code = 0;
        std::string bytes;
        const int got = s.ReadCharacter(code, bytes);
        if (got == KEY_CODE_YES) {
            if (code == KEY_RESIZE) {
                s.HandleResize();
                continue;
            }
            if (static_cast<int>(code) == kPasteBeginCode) return s.ReadPaste();
            return KeyForCode(code);
        }
        if (got == OK) {
            Key key = KeyForCharacter(static_cast<char32_t>(code));
            // A byte of no UTF-8 sequence is still part of the name as typed.
            if (key.kind == Key::Kind::Character) key.bytes = bytes;
            return key;
        }
        // Nothing is buffered: sleep until input or a signal.
        if (s.WaitForInput(-1) == State::Wait::Ended) return s.End(1);
    }
}

}  // namespace stereotools
