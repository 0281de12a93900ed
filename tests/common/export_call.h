// An operation called within a session call, as its export calls it, so that it leaves
// the last error a script would see; the call's log goes where the test says.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/sys.h"
#include "session/session.h"

namespace qm::test {

struct ExportCall {
    ExportCall(const char* name, const std::filesystem::path& log) {
        plat::set_env("QUILLMAR_LOG", log.string().c_str());
        call.emplace(name);
    }
    ~ExportCall() {
        call.reset();  // writes the line and sets the last error
        plat::set_env("QUILLMAR_LOG", nullptr);
    }
    std::optional<session::Call> call;
};

}  // namespace qm::test
