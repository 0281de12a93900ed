// Captures what the library would show the user, for the life of the object.
#pragma once

#include <string>
#include <vector>

#include "platform/notify.h"

namespace qm::test {

class NotifyCapture {
public:
    NotifyCapture() { previous_ = plat::set_notifier(&NotifyCapture::record); }
    ~NotifyCapture() { plat::set_notifier(previous_); }
    NotifyCapture(const NotifyCapture&) = delete;
    NotifyCapture& operator=(const NotifyCapture&) = delete;

    static std::vector<std::string>& shown() {
        static std::vector<std::string> s;
        return s;
    }

private:
    static void record(const char* text) noexcept { shown().push_back(text); }
    struct Clear {
        Clear() { shown().clear(); }
    } clear_;
    plat::Notifier previous_ = nullptr;
};

}  // namespace qm::test
