#pragma once
// The Authenticode signature of a Windows executable (a PE file). Stamping a job changes the
// file, so a template's signature cannot stay valid: it is taken out cleanly, and the result
// is signed anew by its release engineer.
#include <cstddef>
#include <string>

namespace job {

struct PeCertificateTable {
    bool present = false;
    size_t offset = 0, size = 0; // in the file
};

// The certificate table a PE file names; absent for a PE without one and for a file that is
// no PE (a Linux program). Raises JobError naming fileName for a PE whose table lies outside
// the file.
PeCertificateTable FindCertificateTable(const std::string& bytes, const std::string& fileName);

// Makes a signed PE unsigned and well-formed: the table's directory entry cleared, the table
// cut off the end of the file, the header checksum computed again. Raises JobError when the
// table is not at the file's end (nothing after it may be cut).
void RemoveCertificateTable(std::string& bytes, const std::string& fileName);

// The PE header checksum of bytes, whose checksum field is at checksumOffset.
uint32_t PeChecksum(const std::string& bytes, size_t checksumOffset);

} // namespace job
