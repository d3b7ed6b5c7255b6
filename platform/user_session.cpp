#include "platform/user_session.h"

namespace platform {

UserToken::~UserToken() { Reset(); }

UserToken::UserToken(UserToken&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

UserToken& UserToken::operator=(UserToken&& other) noexcept {
  if (this != &other) {
    Reset();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

}  // namespace platform
