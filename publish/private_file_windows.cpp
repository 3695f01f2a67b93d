// create_private_file of the Windows build: CREATE_NEW with a protected DACL that grants the
// current user, and no one else, full access (no inherited entries).
#include "publish/key_file.h"

#include "app/handle.h"
#include <system_error>
#include <vector>

namespace df::publish {
using namespace df::setup;

Result<> create_private_file(const std::filesystem::path& path, const std::string& bytes) {
    auto failure = [](DWORD code) -> Result<> {
        return Failure{std::error_code(static_cast<int>(code), std::system_category()).message()};
    };
    UniqueKernel token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return failure(::GetLastError());
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
        return failure(::GetLastError());
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    std::vector<unsigned char> acl_bytes(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
    auto* acl = reinterpret_cast<ACL*>(acl_bytes.data());
    SECURITY_DESCRIPTOR sd;
    if (!::InitializeAcl(acl, static_cast<DWORD>(acl_bytes.size()), ACL_REVISION) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) ||
        !::SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return failure(::GetLastError());
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return failure(::GetLastError());
    DWORD wrote = 0;
    bool ok = ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
              wrote == bytes.size() && ::FlushFileBuffers(file.get());
    DWORD code = ok ? 0 : ::GetLastError();
    file.reset();
    if (ok) return {};
    ::DeleteFileW(path.c_str());
    return failure(code);
}

}  // namespace df::publish
