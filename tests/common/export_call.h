// An operation called within a session call, as its export calls it, so that it leaves
// the last error a script would see; the call's log goes where the test says.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/sys.h"
#include "session/session.h"

namespace qm::test {

class ExportCall {
public:
    ExportCall(const char* name, const std::filesystem::path& log) : log_(log.string()) {
        plat::set_env("QUILLMAR_LOG", log_.c_str());
        call_.emplace(name);
    }
    ~ExportCall() {
        call_.reset();  // the line is written and the last error set here
        plat::set_env("QUILLMAR_LOG", nullptr);
    }
    ExportCall(const ExportCall&) = delete;
    ExportCall& operator=(const ExportCall&) = delete;

private:
    std::string log_;
    std::optional<session::Call> call_;
};

}  // namespace qm::test
