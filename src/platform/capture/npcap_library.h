#pragma once
// wpcap.dll, loaded at run time: a program linked to it at load time dies before main, with a
// system dialog nobody can act on, on a machine without it. Npcap's own folder
// (System32\Npcap, where its Packet.dll lies beside it) comes first, then the system folder
// (Npcap's WinPcap-compatible install). Every function is resolved by name; those only some
// versions have are optional and null when absent. WinPcap, which cannot serve this program,
// is refused. Windows only; include after platform/windows_api.h.

#include <memory>
#include <string>

#include <pcap/pcap.h>

namespace tarvik {

// How to get a capture library this program can use, and what to say when there is none.
inline constexpr const char* NPCAP_INSTALL_TEXT =
    "install Npcap from https://npcap.com (with \"WinPcap API-compatible mode\" ticked, and "
    "without \"Restrict Npcap driver's access to Administrators only\")";
inline const std::string NPCAP_MISSING_TEXT = std::string("Npcap is not installed: ") +
                                              NPCAP_INSTALL_TEXT;

class NpcapLibrary {
public:
    // The loaded library, or nothing and a message that names what to install.
    static std::shared_ptr<const NpcapLibrary> Load(std::string& error);
    ~NpcapLibrary();
    NpcapLibrary(const NpcapLibrary&) = delete;
    NpcapLibrary& operator=(const NpcapLibrary&) = delete;

    // Required.
    decltype(&::pcap_lib_version) LibVersion = nullptr;
    decltype(&::pcap_create) Create = nullptr;
    decltype(&::pcap_set_snaplen) SetSnaplen = nullptr;
    decltype(&::pcap_set_promisc) SetPromisc = nullptr;
    decltype(&::pcap_set_timeout) SetTimeout = nullptr;
    decltype(&::pcap_activate) Activate = nullptr;
    decltype(&::pcap_close) Close = nullptr;
    decltype(&::pcap_next_ex) NextEx = nullptr;
    decltype(&::pcap_breakloop) BreakLoop = nullptr;
    decltype(&::pcap_sendpacket) SendPacket = nullptr;
    decltype(&::pcap_compile) Compile = nullptr;
    decltype(&::pcap_setfilter) SetFilter = nullptr;
    decltype(&::pcap_freecode) FreeCode = nullptr;
    decltype(&::pcap_geterr) GetErr = nullptr;
    decltype(&::pcap_datalink) Datalink = nullptr;
    decltype(&::pcap_statustostr) StatusToStr = nullptr;
    // Optional. Wine's DLL exports some functions it does not implement, as stubs that end
    // the process when called: under Wine those are left null.
    decltype(&::pcap_set_immediate_mode) SetImmediateMode = nullptr;
    decltype(&::pcap_set_buffer_size) SetBufferSize = nullptr;
    decltype(&::pcap_setmintocopy) SetMinToCopy = nullptr;

    // Where it was loaded from, and its version text.
    std::wstring Path;
    std::string Version;

private:
    NpcapLibrary() = default;
    HMODULE module_ = nullptr;
};

}  // namespace tarvik
