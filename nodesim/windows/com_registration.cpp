#include "nodesim/windows/com_registration.h"

#include <vector>

#include "nodesim/windows/com_node_face.h"
#include "nodesim/windows/win_text.h"

// Exported by oleaut32 since Windows Vista; MinGW's headers lack them.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libraryId, WORD major, WORD minor, LCID locale, SYSKIND kind);
}

namespace tarnwick::nodesim {

namespace {

// The type library marshaller: dual interfaces cross processes through
// their type library.
constexpr const wchar_t* kTypeLibMarshaller = L"{00020424-0000-0000-C000-000000000046}";

std::wstring guidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring programPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) return std::wstring(path.data(), n);
        path.resize(path.size() * 2);
    }
}

// The classes roots written: the user's, and the machine's under Wine. Keys
// are opened in the process's own registry view, which is the view a client
// of the same pointer size looks in: the 64-bit stand-in registers for
// 64-bit clients, the 32-bit one (as EchoLink itself) for 32-bit clients.
std::vector<std::pair<HKEY, const wchar_t*>> classRoots() {
    std::vector<std::pair<HKEY, const wchar_t*>> roots{{HKEY_CURRENT_USER, L"HKCU"}};
    if (runningUnderWine()) roots.emplace_back(HKEY_LOCAL_MACHINE, L"HKLM");
    return roots;
}

LSTATUS setDefault(HKEY root, const std::wstring& path, const std::wstring& value) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status;
}

LSTATUS setNamed(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status;
}

LSTATUS deleteTree(HKEY root, const std::wstring& path) {
    const LSTATUS status = RegDeleteTreeW(root, path.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
        RegDeleteKeyW(root, path.c_str());
        return ERROR_SUCCESS;
    }
    return status;
}

std::string failedAt(const wchar_t* root, const std::wstring& path, LSTATUS status) {
    return "cannot write " + utf8FromWide(root) + "\\" + utf8FromWide(path) + ": " +
           errorText(static_cast<DWORD>(status));
}

const std::vector<IID>& dualInterfaces() {
    static const std::vector<IID> ids{__uuidof(INode), __uuidof(ISysopInfo)};
    return ids;
}

}  // namespace

bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string registerForUser(std::string& summary) {
    const std::wstring path = programPath();
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return "cannot read the type library in " + utf8FromWide(path) + ": " + errorText(hr);
    // The library, and with it the interfaces' marshalling entries.
    hr = RegisterTypeLibForUser(library, const_cast<OLECHAR*>(path.c_str()), nullptr);
    library->Release();
    if (FAILED(hr)) return "cannot register the type library: " + errorText(hr);

    const std::wstring classes = L"Software\\Classes\\";
    const std::wstring clsid = classes + L"CLSID\\" + kNodeClassIdText;
    for (const auto& [root, rootName] : classRoots()) {
        struct Value {
            std::wstring key;
            const wchar_t* name;  // nullptr: the key's default value
            std::wstring value;
        };
        std::vector<Value> values{
            {clsid, nullptr, L"Tarnwick stand-in node"},
            // Quoted: the path may hold blanks, and COM appends -Embedding.
            {clsid + L"\\LocalServer32", nullptr, L"\"" + path + L"\""},
            {clsid + L"\\TypeLib", nullptr, kNodeLibraryIdText},
            {clsid + L"\\Version", nullptr, L"1.8"},
        };
        // The dual interfaces marshal through their type library. The
        // library registration writes this too; writing it here makes the
        // registration complete whatever the runtime's own does.
        for (const IID& iid : dualInterfaces()) {
            const std::wstring key = classes + L"Interface\\" + guidText(iid);
            values.push_back({key + L"\\ProxyStubClsid32", nullptr, kTypeLibMarshaller});
            values.push_back({key + L"\\ProxyStubClsid", nullptr, kTypeLibMarshaller});
            values.push_back({key + L"\\TypeLib", nullptr, kNodeLibraryIdText});
            values.push_back({key + L"\\TypeLib", L"Version", L"1.8"});
        }
        for (const Value& v : values) {
            const LSTATUS status =
                v.name == nullptr ? setDefault(root, v.key, v.value) : setNamed(root, v.key, v.name, v.value);
            if (status != ERROR_SUCCESS) return failedAt(rootName, v.key, status);
        }
    }
    summary =
        "registered the stand-in node " + utf8FromWide(kNodeClassIdText) + " for this user: " + utf8FromWide(path);
    return {};
}

std::string unregisterForUser(std::string& summary) {
    // Not registered is not an error: the result is the same. The library
    // was registered for this build's pointer size (its own SYSKIND).
    constexpr SYSKIND kOwnKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    UnRegisterTypeLibForUser(kNodeLibraryId, kNodeLibraryMajor, kNodeLibraryMinor, 0, kOwnKind);
    const std::wstring classes = L"Software\\Classes\\";
    for (const auto& [root, rootName] : classRoots()) {
        std::vector<std::wstring> keys{classes + L"CLSID\\" + kNodeClassIdText,
                                       classes + L"TypeLib\\" + kNodeLibraryIdText};
        for (const IID& iid : dualInterfaces()) keys.push_back(classes + L"Interface\\" + guidText(iid));
        keys.push_back(classes + L"Interface\\" + guidText(__uuidof(DNodeEvents)));
        for (const std::wstring& key : keys) {
            const LSTATUS status = deleteTree(root, key);
            if (status != ERROR_SUCCESS) {
                return "cannot remove " + utf8FromWide(rootName) + "\\" + utf8FromWide(key) + ": " +
                       errorText(static_cast<DWORD>(status));
            }
        }
    }
    summary = "removed the stand-in node " + utf8FromWide(kNodeClassIdText) + " for this user";
    return {};
}

}  // namespace tarnwick::nodesim
