#include "platform/windows_api.h"

#include "platform/capture/npcap_library.h"

namespace tarvik {
namespace {

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return function != nullptr;
}

// Wine's ntdll says its version; Windows' has no such export.
bool RunsUnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring SystemFolder()
{
    std::wstring folder(MAX_PATH, L'\0');
    const UINT length = ::GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    folder.resize(length < folder.size() ? length : 0);
    return folder;
}

}  // namespace

std::shared_ptr<const NpcapLibrary> NpcapLibrary::Load(std::string& error)
{
    const std::wstring system = SystemFolder();
    std::shared_ptr<NpcapLibrary> library(new NpcapLibrary);
    for (const std::wstring& folder : {system + L"\\Npcap", system}) {
        const std::wstring path = folder + L"\\wpcap.dll";
        // The DLL's own folder is searched for what it loads in turn (Packet.dll).
        library->module_ = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (library->module_ != nullptr) {
            library->Path = path;
            break;
        }
    }
    if (library->module_ == nullptr) {
        error = NPCAP_MISSING_TEXT;
        return nullptr;
    }
    const HMODULE module = library->module_;
    const char* missing = nullptr;
    const auto need = [&](const char* name, auto& function) {
        if (!Resolve(module, name, function) && missing == nullptr) {
            missing = name;
        }
    };
    need("pcap_lib_version", library->LibVersion);
    need("pcap_create", library->Create);
    need("pcap_set_snaplen", library->SetSnaplen);
    need("pcap_set_promisc", library->SetPromisc);
    need("pcap_set_timeout", library->SetTimeout);
    need("pcap_activate", library->Activate);
    need("pcap_close", library->Close);
    need("pcap_next_ex", library->NextEx);
    need("pcap_breakloop", library->BreakLoop);
    need("pcap_sendpacket", library->SendPacket);
    need("pcap_compile", library->Compile);
    need("pcap_setfilter", library->SetFilter);
    need("pcap_freecode", library->FreeCode);
    need("pcap_geterr", library->GetErr);
    need("pcap_datalink", library->Datalink);
    need("pcap_statustostr", library->StatusToStr);
    if (missing != nullptr) {
        error = Utf8Text(library->Path) + " has no " + missing + ": it is too old or not Npcap; " +
                NPCAP_INSTALL_TEXT;
        return nullptr;
    }
    Resolve(module, "pcap_set_immediate_mode", library->SetImmediateMode);
    Resolve(module, "pcap_set_buffer_size", library->SetBufferSize);
    if (!RunsUnderWine()) {
        Resolve(module, "pcap_setmintocopy", library->SetMinToCopy);
    }

    const char* version = library->LibVersion();
    library->Version = version != nullptr ? version : "";
    // WinPcap's driver lacks what Npcap added (loopback, modern Windows); it says its name in
    // its version text.
    if (library->Version.find("WinPcap") != std::string::npos) {
        error = "WinPcap is installed (" + library->Version +
                "), which this program cannot use: uninstall it, then " + NPCAP_INSTALL_TEXT;
        return nullptr;
    }
    return library;
}

NpcapLibrary::~NpcapLibrary()
{
    if (module_ != nullptr) {
        ::FreeLibrary(module_);
    }
}

}  // namespace tarvik
