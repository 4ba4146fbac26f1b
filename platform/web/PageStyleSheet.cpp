#include "platform/web/PageStyleSheet.h"

#include <cctype>

namespace platform::web {

namespace {

// A comma-separated selector longer than this is left out with its rule.
constexpr size_t kMaximumSelectorLength = 1024;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool isNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

// Whether each selector of a rule's list is within the steps, parentheses
// and length litehtml is given.
bool selectorsFit(std::string_view prelude) {
    size_t steps = 0, parentheses = 0, start = 0;
    bool inCompound = false, inBrackets = false;
    char quote = 0;
    for (size_t i = 0; i < prelude.size(); ++i) {
        const char c = prelude[i];
        if (quote) {
            if (c == '\\') ++i;
            else if (c == quote) quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') quote = c;
        else if (c == '[') inBrackets = true;
        else if (c == ']') inBrackets = false;
        else if (c == '(' && ++parentheses > kMaximumSelectorParentheses) return false;
        else if (c == ')' && parentheses > 0) --parentheses;
        if (inBrackets || parentheses > 0 || c == ')' || c == ']') {
            inCompound = true;
            continue;
        }
        if (c == ',') {
            if (i - start > kMaximumSelectorLength) return false;
            start = i + 1;
            steps = 0;
            inCompound = false;
        } else if (isSpace(c) || c == '>' || c == '+' || c == '~') {
            inCompound = false;
        } else if (!inCompound) {
            if (++steps > kMaximumSelectorSteps) return false;
            inCompound = true;
        }
    }
    return prelude.size() - start <= kMaximumSelectorLength;
}

// One left-to-right pass over the text; everything it keeps is copied, so
// the work is linear in the text.
class Tidier {
public:
    Tidier(std::string_view in, bool sheet) : in_(in), sheet_(sheet) { out_.reserve(in.size() + 16); }

    TidiedStyle run() {
        while (i_ < in_.size()) {
            const char c = in_[i_];
            if (c == '/' && next() == '*') {
                skipComment();
            } else if (c == '"' || c == '\'') {
                copyString();
            } else if (c == '\\') {
                copyEscape();
            } else if ((c == 'u' || c == 'U') && atURL()) {
                copyURL();
            } else if (sheet_ && c == '{') {
                openBlock();
            } else if (sheet_ && c == '}') {
                closeBlock();
            } else {
                if (c == ';') {
                    ++pieces_;
                    preludeStart_ = out_.size() + 1;
                }
                out_ += c;
                ++i_;
            }
        }
        out_.append(depth_, '}');
        return {std::move(out_), pieces_ + 1};
    }

private:
    char next() const { return i_ + 1 < in_.size() ? in_[i_ + 1] : '\0'; }

    void skipComment() {
        size_t end = in_.find("*/", i_ + 2);
        i_ = end == std::string_view::npos ? in_.size() : end + 2;
    }

    // A backslash escape, kept, but for an escaped brace, which becomes its
    // code point: litehtml's parser looks for braces without reading escapes.
    void copyEscape() {
        const char e = next();
        if (e == '{' || e == '}') {
            out_ += e == '{' ? "\\7b " : "\\7d ";
        } else {
            out_ += '\\';
            if (e) out_ += e;
        }
        i_ += e ? 2 : 1;
    }

    // A quoted string, closed at the end of the text when it is not before.
    void copyString() {
        const char quote = in_[i_++];
        out_ += quote;
        while (i_ < in_.size()) {
            const char c = in_[i_];
            if (c == '\\') {
                copyEscape();
                continue;
            }
            ++i_;
            if (c == quote) break;
            if (c == '{' || c == '}') out_ += c == '{' ? "\\7b " : "\\7d ";
            else out_ += c;
        }
        out_ += quote;
    }

    bool atURL() const {
        if (i_ + 4 > in_.size() || (i_ > 0 && isNameCharacter(in_[i_ - 1]))) return false;
        std::string_view name = in_.substr(i_, 4);
        return std::tolower(static_cast<unsigned char>(name[0])) == 'u' &&
               std::tolower(static_cast<unsigned char>(name[1])) == 'r' &&
               std::tolower(static_cast<unsigned char>(name[2])) == 'l' && name[3] == '(';
    }

    // url(…) with its argument quoted; in an unquoted one the characters a
    // quoted URL cannot hold as they are are percent-escaped.
    void copyURL() {
        size_t j = i_ + 4;
        while (j < in_.size() && isSpace(in_[j])) ++j;
        if (j < in_.size() && (in_[j] == '"' || in_[j] == '\'')) {
            out_.append(in_.substr(i_, j - i_));  // the string is copied as strings are
            i_ = j;
            return;
        }
        size_t close = in_.find(')', j);
        if (close == std::string_view::npos) close = in_.size();
        size_t end = close;
        while (end > j && isSpace(in_[end - 1])) --end;
        out_ += "url(\"";
        for (char c : in_.substr(j, end - j)) {
            switch (c) {
                case '"': out_ += "%22"; break;
                case '\\': out_ += "%5C"; break;
                case '{': out_ += "%7B"; break;
                case '}': out_ += "%7D"; break;
                default: out_ += c;
            }
        }
        out_ += "\")";
        i_ = close < in_.size() ? close + 1 : close;
    }

    void openBlock() {
        std::string_view prelude(out_.data() + preludeStart_, out_.size() - preludeStart_);
        while (!prelude.empty() && isSpace(prelude.front())) prelude.remove_prefix(1);
        const bool atRule = !prelude.empty() && prelude.front() == '@';
        if (depth_ >= kMaximumStyleNesting || (!atRule && !selectorsFit(prelude))) {
            out_.resize(preludeStart_);
            skipBlock();
            return;
        }
        for (char c : prelude) pieces_ += c == ',';
        ++pieces_;
        ++depth_;
        out_ += '{';
        ++i_;
        preludeStart_ = out_.size();
    }

    void closeBlock() {
        ++i_;
        if (depth_ == 0) return;  // closes nothing
        --depth_;
        out_ += '}';
        preludeStart_ = out_.size();
    }

    // From a '{' to past its matching '}' (or the end), leaving it out.
    void skipBlock() {
        size_t level = 0;
        while (i_ < in_.size()) {
            const char c = in_[i_];
            if (c == '/' && next() == '*') {
                skipComment();
                continue;
            }
            if (c == '"' || c == '\'') {
                size_t j = i_ + 1;
                while (j < in_.size() && in_[j] != c) j += in_[j] == '\\' ? 2 : 1;
                i_ = j + 1;
                continue;
            }
            i_ += c == '\\' ? 2 : 1;
            if (c == '{') ++level;
            else if (c == '}' && --level == 0) break;
        }
        if (i_ > in_.size()) i_ = in_.size();
        preludeStart_ = out_.size();
    }

    std::string_view in_;
    bool sheet_;
    size_t i_ = 0;
    std::string out_;
    size_t pieces_ = 0;
    size_t depth_ = 0;
    size_t preludeStart_ = 0;  // where the text before the next '{' begins in out_
};

}  // namespace

TidiedStyle tidyStyleSheet(std::string_view sheet) { return Tidier(sheet, true).run(); }

TidiedStyle tidyStyleDeclarations(std::string_view declarations) { return Tidier(declarations, false).run(); }

}  // namespace platform::web
