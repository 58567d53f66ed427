#pragma once
// A read-only view of HKEY_LOCAL_MACHINE with the calls adapter discovery makes: open a key,
// enumerate its subkey names into a caller's buffer, read a named value into a caller's
// buffer, close. The results follow the first platform's: a name or value that does not fit
// the buffer is a failure of that call, not a truncated answer.
//
// Two sources stand behind the one interface: the machine's own network interfaces
// (LiveRegistry, read from the OS at every call) and a REGEDIT4 export file
// (FileRegistry), with which both families' keys can be given.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// Call results, with the first platform's numbers.
inline constexpr int REGISTRY_SUCCESS = 0;
inline constexpr int REGISTRY_NOT_FOUND = 2;
inline constexpr int REGISTRY_INVALID_HANDLE = 6;
inline constexpr int REGISTRY_MORE_DATA = 234;
inline constexpr int REGISTRY_NO_MORE_ITEMS = 259;

// Value types.
inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;

// The key under which the NT family lists its network cards; the live source answers it.
inline constexpr std::string_view NT_NETWORK_CARDS_KEY =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";

// Key and value names compare as the registry compares them: ASCII case ignored.
bool RegistryNamesEqual(std::string_view a, std::string_view b);
bool RegistryNameLess(std::string_view a, std::string_view b);

struct RegistryValue {
    std::uint32_t Type = REG_NONE;
    // As stored: a REG_SZ text with its terminating zero, a REG_DWORD in 4 little-endian bytes.
    std::vector<std::uint8_t> Data;
};

// One key as a source sees it. Names of keys and values compare without regard to case.
class RegistryNode {
public:
    virtual ~RegistryNode() = default;
    // Another handle on the same key.
    virtual std::unique_ptr<RegistryNode> Clone() const = 0;
    // The name of the subkey at index in enumeration order; nothing past the last one.
    virtual std::optional<std::string> SubkeyName(std::uint32_t index) const = 0;
    // The direct subkey of that name (one path component); nullptr when there is none.
    virtual std::unique_ptr<RegistryNode> Subkey(std::string_view name) const = 0;
    // The named value ("" is the key's default value); nothing when there is none.
    virtual std::optional<RegistryValue> Value(std::string_view name) const = 0;
};

// An open key; closed when destroyed. A key that is not open answers every call with
// REGISTRY_INVALID_HANDLE.
class RegistryKey {
public:
    RegistryKey() = default;
    explicit RegistryKey(std::unique_ptr<RegistryNode> node) : node_(std::move(node)) {}
    RegistryKey(RegistryKey&&) noexcept = default;
    RegistryKey& operator=(RegistryKey&&) noexcept = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() = default;

    bool IsOpen() const { return node_ != nullptr; }

    // Opens a key below this one for reading; path components are separated by backslashes.
    // On failure subkey is left closed.
    int OpenSubkey(std::string_view path, RegistryKey& subkey) const;

    // Writes the name of the subkey at index into name, terminator included. nameChars gives
    // the buffer's size in characters and receives the name's length without the
    // terminator. REGISTRY_MORE_DATA when the name and its terminator do not fit (nothing is
    // written), REGISTRY_NO_MORE_ITEMS past the last subkey.
    int EnumKey(std::uint32_t index, char* name, std::uint32_t& nameChars) const;

    // Reads the named value into data. dataBytes gives the buffer's size and receives the
    // value's size; type, when given, receives its type. REGISTRY_MORE_DATA when the value
    // does not fit (nothing is written), REGISTRY_NOT_FOUND when there is no such value. With
    // data null only the size and type are reported.
    int QueryValue(std::string_view name, std::uint32_t* type, std::uint8_t* data,
                   std::uint32_t& dataBytes) const;

    void Close() { node_.reset(); }

private:
    std::unique_ptr<RegistryNode> node_;
};

class Registry {
public:
    virtual ~Registry() = default;
    // Opens a key below HKEY_LOCAL_MACHINE for reading ("System\CurrentControlSet\...").
    int OpenKey(std::string_view path, RegistryKey& key);

protected:
    // HKEY_LOCAL_MACHINE itself.
    virtual std::unique_ptr<RegistryNode> Root() = 0;
};

// A registry export in REGEDIT4 text: the line "REGEDIT4", then keys in brackets
// ([HKEY_LOCAL_MACHINE\System\...]) each followed by its values, "Name"="text" (with \\ and
// \" escapes), "Name"=dword:0000000a, "Name"=hex:01,02 (a trailing backslash continues the
// line), @="text" for the default value. Lines starting with ';' and blank lines are ignored.
// Keys of other roots are read and ignored. Subkeys enumerate in name order, case ignored,
// as the registry itself keeps them.
// How deep keys may nest in an export, as in the registry itself.
inline constexpr std::size_t REGISTRY_MAX_KEY_DEPTH = 512;

class FileRegistry final : public Registry {
public:
    // nullptr with error set ("line 7: ...") when the text is not such an export.
    static std::unique_ptr<FileRegistry> Parse(std::string_view text, std::string& error);
    static std::unique_ptr<FileRegistry> Load(const std::string& path, std::string& error);

    struct Tree;

protected:
    std::unique_ptr<RegistryNode> Root() override;

private:
    explicit FileRegistry(std::shared_ptr<const Tree> tree) : tree_(std::move(tree)) {}
    std::shared_ptr<const Tree> tree_;
};

// The machine's network interfaces under NT_NETWORK_CARDS_KEY, read from sysfs at every
// call. One subkey per interface, named by its interface index in decimal and enumerated in
// index order, with the values
//   "ServiceName"  the interface name ("eth0"),
//   "Description"  "eth0 (virtio_net) 52:54:00:12:34:56, link up",
//   "Hidden"       dword 1, only on interfaces no device can be upgraded through: the
//                  loopback, everything that is not Ethernet, and virtual interfaces that
//                  are down.
// The key path above the cards holds nothing else.
class LiveRegistry final : public Registry {
public:
    // sysClassNet is the directory holding one entry per interface; another root serves tests.
    explicit LiveRegistry(std::string sysClassNet = "/sys/class/net");

protected:
    std::unique_ptr<RegistryNode> Root() override;

private:
    std::string sysClassNet_;
};

// The registry itself, on Windows: HKEY_LOCAL_MACHINE read with the Win32 API, read-only. Names
// and texts pass as UTF-8.
class WindowsRegistry final : public Registry {
protected:
    std::unique_ptr<RegistryNode> Root() override;
};

}  // namespace tarvik
