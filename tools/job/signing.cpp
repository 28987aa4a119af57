#include "job/signing.h"

#include <cstdlib>
#include <vector>

#include "job/job.h"
#include "job/signing_run.h"

namespace job {

void SignPe(const SignRequest& r, const std::string& in, const std::string& out)
{
    PasswordFile password(std::getenv("MORAVENT_SIGN_PASSWORD"));
    std::vector<std::string> args = {"osslsigncode", "sign", "-h", "sha256", "-n", r.description, "-i", r.url};
    if (r.key.empty())
        args.insert(args.end(), {"-pkcs12", r.certificate});
    else
        args.insert(args.end(), {"-certs", r.certificate, "-key", r.key});
    if (!password.Path.empty())
        args.insert(args.end(), {"-readpass", password.Path});
    if (!r.timestamp.empty())
        args.insert(args.end(), {"-ts", r.timestamp});
    args.insert(args.end(), {"-in", in, "-out", out});
    std::string output;
    if (RunSigner(args, output) != 0) {
        while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
            output.pop_back();
        throw JobError("osslsigncode could not sign it: " + output);
    }
}

} // namespace job
