#include "src/base/line_scanner.h"

namespace quelmar::base {

void LineScanner::reset() { *this = LineScanner(); }

void LineScanner::on_char(char32_t c) {
    if (is_white_space(c)) {
        in_token_ = false;
        current_ = nullptr;
        return;
    }
    if (in_token_) {
        if (current_) current_->push(c);
        return;
    }
    in_token_ = true;
    if (tokens_.count < 2) {
        current_ = tokens_.count == 0 ? &tokens_.first : &tokens_.second;
        ++tokens_.count;
        current_->begin(c);
    }
}

void LineScanner::feed(const unsigned char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size && !broken_; ++i) {
        const unsigned char b = bytes[i];
        if (continuations_left_ > 0) {
            if (b < next_lowest_ || b > next_highest_) {
                broken_ = true;
                break;
            }
            code_point_ = (code_point_ << 6) | (b & 0x3F);
            next_lowest_ = 0x80;
            next_highest_ = 0xBF;
            if (--continuations_left_ == 0) on_char(code_point_);
            continue;
        }
        if (b < 0x80) {
            on_char(b);
            continue;
        }
        // A lead byte: how many continuation bytes follow, and the range of
        // the first one (which rules out overlong forms, surrogates and code
        // points above U+10FFFF).
        next_lowest_ = 0x80;
        next_highest_ = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            continuations_left_ = 1;
            code_point_ = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            continuations_left_ = 2;
            code_point_ = b & 0x0F;
            if (b == 0xE0) next_lowest_ = 0xA0;
            if (b == 0xED) next_highest_ = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            continuations_left_ = 3;
            code_point_ = b & 0x07;
            if (b == 0xF0) next_lowest_ = 0x90;
            if (b == 0xF4) next_highest_ = 0x8F;
        } else {
            broken_ = true;
        }
    }
}

bool LineScanner::finish(LineTokens& tokens) {
    if (broken_ || continuations_left_ > 0) return false;
    tokens = tokens_;
    return true;
}

}  // namespace quelmar::base
