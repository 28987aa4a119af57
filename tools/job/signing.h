#pragma once
// Signing a stamped Windows program with the release engineer's certificate and key, through
// osslsigncode (a well-kept Authenticode signer), never code of our own.
#include <string>

namespace job {

struct SignRequest {
    std::string certificate;      // PEM or DER certificate, or a PKCS#12 bundle when key is empty
    std::string key;              // PEM or DER private key; "" with a PKCS#12 bundle
    std::string timestamp;        // a time-stamp server's URL, or "" for none
    std::string description, url; // shown by Windows' signature dialog
};

// Signs the PE file in, writing the signed file to out. The key's password, when it has one,
// comes from the environment variable MORAVENT_SIGN_PASSWORD (never from the command line).
// Raises JobError naming the reason (no osslsigncode, a wrong key, a file that is no PE).
void SignPe(const SignRequest& request, const std::string& in, const std::string& out);

} // namespace job
