#pragma once
// Starting osslsigncode the system's way, for SignPe.
#include <string>
#include <vector>

namespace job {

// The file osslsigncode reads the key's password from, private to this user, removed with
// the object; Path stays empty without a password. Raises JobError when it cannot be made.
class PasswordFile {
public:
    explicit PasswordFile(const char* password);
    ~PasswordFile();
    PasswordFile(const PasswordFile&) = delete;
    PasswordFile& operator=(const PasswordFile&) = delete;
    std::string Path;
};

// Runs args[0] (osslsigncode, looked for on the PATH) with args; its exit status, and what
// it wrote to its standard output and error in output. Raises JobError when it cannot start.
int RunSigner(const std::vector<std::string>& args, std::string& output);

} // namespace job
