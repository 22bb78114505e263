#include "secrets/KeychainSecretStore.h"
#include "secrets/PlatformSecretStore.h"

#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>

#include <memory>
#include <string>

namespace {

struct CFDeleter {
    void operator()(CFTypeRef ref) const {
        if (ref)
            CFRelease(ref);
    }
};
template <class T>
using CFPtr = std::unique_ptr<std::remove_pointer_t<T>, CFDeleter>;

CFPtr<CFStringRef> cfString(std::string_view s) {
    return CFPtr<CFStringRef>(CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(s.data()),
                                                      static_cast<CFIndex>(s.size()), kCFStringEncodingUTF8,
                                                      false));
}

CFPtr<CFDataRef> cfData(std::string_view s) {
    return CFPtr<CFDataRef>(
        CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(s.data()), static_cast<CFIndex>(s.size())));
}

CFPtr<CFMutableDictionaryRef> query(std::string_view service, std::optional<std::string_view> account,
                                    CFStringRef& serviceRef, CFStringRef& accountRef) {
    CFPtr<CFMutableDictionaryRef> q(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                              &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(q.get(), kSecClass, kSecClassGenericPassword);
    CFDictionarySetValue(q.get(), kSecAttrService, serviceRef);
    if (account && !account->empty())
        CFDictionarySetValue(q.get(), kSecAttrAccount, accountRef);
    return q;
}

} // namespace

SecretRead KeychainSecretStore::read(std::string_view service, std::optional<std::string_view> account) {
    auto s = cfString(service);
    auto a = cfString(account.value_or(""));
    CFStringRef sr = s.get();
    CFStringRef ar = a.get();
    auto q = query(service, account, sr, ar);
    CFDictionarySetValue(q.get(), kSecReturnData, kCFBooleanTrue);
    CFDictionarySetValue(q.get(), kSecMatchLimit, kSecMatchLimitOne);
    CFTypeRef result = nullptr;
    SecretRead out;
    out.status = static_cast<int>(SecItemCopyMatching(q.get(), &result));
    CFPtr<CFTypeRef> owned(result);
    if (out.status == errSecSuccess) {
        if (result && CFGetTypeID(result) == CFDataGetTypeID()) {
            auto data = static_cast<CFDataRef>(result);
            out.data.assign(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                            static_cast<std::size_t>(CFDataGetLength(data)));
        } else {
            out.status = SecretStatus::internalError;
        }
    }
    return out;
}

int KeychainSecretStore::store(std::string_view service, std::string_view account, std::string_view data) {
    auto s = cfString(service);
    auto a = cfString(account);
    auto d = cfData(data);
    CFStringRef sr = s.get();
    CFStringRef ar = a.get();
    auto q = query(service, account, sr, ar);
    if (account.empty())
        CFDictionarySetValue(q.get(), kSecAttrAccount, ar);
    // Update in place first, so that a failure never leaves the account without its item.
    CFPtr<CFMutableDictionaryRef> change(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                                   &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(change.get(), kSecValueData, d.get());
    OSStatus status = SecItemUpdate(q.get(), change.get());
    if (status != errSecItemNotFound)
        return static_cast<int>(status);
    CFDictionarySetValue(q.get(), kSecValueData, d.get());
    return static_cast<int>(SecItemAdd(q.get(), nullptr));
}

int KeychainSecretStore::update(std::string_view service, std::string_view data) {
    auto s = cfString(service);
    auto d = cfData(data);
    CFStringRef sr = s.get();
    CFStringRef ar = nullptr;
    auto q = query(service, std::nullopt, sr, ar);
    CFPtr<CFMutableDictionaryRef> change(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                                   &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(change.get(), kSecValueData, d.get());
    return static_cast<int>(SecItemUpdate(q.get(), change.get()));
}

int KeychainSecretStore::remove(std::string_view service, std::string_view account) {
    auto s = cfString(service);
    auto a = cfString(account);
    CFStringRef sr = s.get();
    CFStringRef ar = a.get();
    auto q = query(service, account, sr, ar);
    if (account.empty())
        CFDictionarySetValue(q.get(), kSecAttrAccount, ar);
    return static_cast<int>(SecItemDelete(q.get()));
}

std::unique_ptr<SecretStore> makePlatformSecretStore() {
    return std::make_unique<KeychainSecretStore>();
}
