#include "platform/sim/sim_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/byte_cursor.h"
#include "common/text.h"

namespace qf::sim {

using namespace platform;

namespace {

// The simulated system's message table: texts for the Win32 numbers the
// simulation answers with, none for WMI's own codes.
const std::map<std::uint32_t, const char16_t*>& MessageTable() {
    static const std::map<std::uint32_t, const char16_t*> table = {
        {0, u"The operation completed successfully."},
        {1, u"Incorrect function."},
        {2, u"The system cannot find the file specified."},
        {3, u"The system cannot find the path specified."},
        {5, u"Access is denied."},
        {6, u"The handle is invalid."},
        {8, u"Not enough memory resources are available to process this command."},
        {13, u"The data is invalid."},
        {21, u"The device is not ready."},
        {87, u"The parameter is incorrect."},
        {122, u"The data area passed to a system call is too small."},
        {234, u"More data is available."},
        {259, u"No more data is available."},
        {0x80004005u, u"Unspecified error"},
        {0x8007000Eu, u"Not enough memory resources are available to complete this operation."},
        {0x800401F0u, u"CoInitialize has not been called."},
    };
    return table;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) { return AsciiUpper(a) == AsciiUpper(b); }

const char* InterfaceName(int kind) {
    static const char* names[] = {"IWbemLocator", "IWbemServices", "IEnumWbemClassObject", "IWbemClassObject"};
    return names[kind];
}

}  // namespace

std::string MakeFreshTempDir() {
    namespace fs = std::filesystem;
    fs::path base = fs::temp_directory_path();
    for (unsigned i = 0;; ++i) {
        fs::path dir = base / ("qf-" + std::to_string(std::rand()) + "-" + std::to_string(i));
        std::error_code ec;
        if (fs::create_directory(dir, ec)) return dir.string();
    }
}

SimPlatform::SimPlatform(Machine machine, std::string tempDir)
    : machine_(std::move(machine)), tempDir_(std::move(tempDir)), ruleMatches_(machine_.errors.size(), 0) {}

SimPlatform::~SimPlatform() {
    for (auto& [h, object] : handles_)
        if (object.file) std::fclose(static_cast<std::FILE*>(object.file));
}

std::vector<std::string> SimPlatform::Outstanding() const {
    std::vector<std::string> out;
    for (const auto& [h, object] : handles_) out.push_back("handle " + object.label);
    for (const auto& [l, list] : deviceLists_) out.push_back("device list " + ToUtf8(list.label));
    for (const auto& [p, memory] : localMemory_) out.push_back("local memory of " + std::to_string(memory.size()) + " bytes");
    for (std::uint32_t i = 0; i < comInitializations_; ++i) out.push_back("COM initialisation");
    for (const auto& [i, object] : interfaces_)
        out.push_back(std::string("interface ") + InterfaceName(static_cast<int>(object.kind)) + " " +
                      ToUtf8(object.className.empty() ? object.nameSpace : object.className));
    return out;
}

void SimPlatform::Trace(const char* call, const std::u16string& target) {
    calls_.push_back(target.empty() ? std::string(call) : std::string(call) + " " + ToUtf8(target));
}

std::optional<SimPlatform::Forced> SimPlatform::Rule(const char* call, const std::u16string& target,
                                                     std::optional<std::uint32_t> ioctl) {
    Trace(call, target);
    std::optional<Forced> forced;
    for (std::size_t i = 0; i < machine_.errors.size(); ++i) {
        const ErrorRule& rule = machine_.errors[i];
        if (rule.call != call) continue;
        if (rule.target && !EqualsNoCase(*rule.target, target)) continue;
        if (rule.ioctl && rule.ioctl != ioctl) continue;
        ++ruleMatches_[i];
        if (rule.nth && *rule.nth != ruleMatches_[i]) continue;
        if (!forced) forced = Forced{rule.error, rule.returns};
    }
    return forced;
}

std::string SimPlatform::HostPath(const std::u16string& path) {
    std::string host = ToUtf8(path);
    std::replace(host.begin(), host.end(), '\\', '/');
    return host;
}

Handle SimPlatform::AddHandle(Object object) {
    Handle h = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(h, std::move(object));
    return h;
}

SimPlatform::Object* SimPlatform::FindHandle(Handle h) {
    auto it = handles_.find(h);
    return it == handles_.end() ? nullptr : &it->second;
}

Interface SimPlatform::AddInterface(ComObject object) {
    Interface i = nextInterface_;
    nextInterface_ += 8;
    interfaces_.emplace(i, std::move(object));
    return i;
}

SimPlatform::ComObject* SimPlatform::FindInterface(Interface i, ComObject::Kind kind) {
    auto it = interfaces_.find(i);
    return it == interfaces_.end() || it->second.kind != kind ? nullptr : &it->second;
}

const Volume* SimPlatform::VolumeByLetter(char16_t letter) const {
    if (letter >= u'a' && letter <= u'z') letter = static_cast<char16_t>(letter - u'a' + u'A');
    for (const Volume& v : machine_.volumes)
        if (v.letter == letter) return &v;
    return nullptr;
}

const Disk* SimPlatform::DiskByNumber(std::uint32_t number) const {
    for (const Disk& d : machine_.disks)
        if (d.number == number) return &d;
    return nullptr;
}

const WmiClass* SimPlatform::FindClass(const std::u16string& nameSpace, const std::u16string& className) const {
    auto ns = machine_.wmi.find(nameSpace);
    if (ns == machine_.wmi.end()) return nullptr;
    auto cls = ns->second.find(AsciiUpper(className));
    return cls == ns->second.end() ? nullptr : &cls->second;
}

// --- errors -----------------------------------------------------------------

bool SimPlatform::GetSystemMessage(std::uint32_t code, std::u16string* text) {
    const auto& table = MessageTable();
    auto it = table.find(code);
    if (it == table.end() && (code & 0xFFFF0000u) == 0x80070000u) it = table.find(code & 0xFFFF);
    if (it == table.end()) return false;
    *text = it->second;
    return true;
}

// --- files ------------------------------------------------------------------

std::uint32_t SimPlatform::GetTempPathW(std::uint32_t capacity, char16_t* buffer) {
    if (auto f = Rule("GetTempPathW")) {
        lastError_ = f->error.value_or(0);
        return f->returns.value_or(0);
    }
    std::u16string dir = FromUtf8(tempDir_);
    if (dir.empty() || (dir.back() != u'/' && dir.back() != u'\\')) dir += u'/';
    if (dir.size() + 1 > capacity) return static_cast<std::uint32_t>(dir.size() + 1);
    std::copy(dir.begin(), dir.end(), buffer);
    buffer[dir.size()] = 0;
    return static_cast<std::uint32_t>(dir.size());
}

Handle SimPlatform::OpenFile(const std::u16string& path, const char* mode) {
    Trace("OpenFile", path);
    std::string host = HostPath(path);
#ifdef _WIN32
    std::FILE* f = _wfopen(reinterpret_cast<const wchar_t*>(FromUtf8(host).c_str()),
                           reinterpret_cast<const wchar_t*>(Widen(mode).c_str()));
#else
    std::FILE* f = std::fopen(host.c_str(), mode);
#endif
    if (!f) {
        lastError_ = kErrorPathNotFound;
        return kInvalidHandle;
    }
    return AddHandle(Object{Object::Kind::File, host, path, 0, f});
}

bool SimPlatform::WriteFile(Handle file, const void* data, std::size_t size) {
    Object* o = FindHandle(file);
    if (!o || o->kind != Object::Kind::File) return Fail(kErrorInvalidHandle);
    return std::fwrite(data, 1, size, static_cast<std::FILE*>(o->file)) == size;
}

bool SimPlatform::FlushFile(Handle file) {
    Trace("FlushFile");
    Object* o = FindHandle(file);
    if (!o || o->kind != Object::Kind::File) return Fail(kErrorInvalidHandle);
    return std::fflush(static_cast<std::FILE*>(o->file)) == 0;
}

bool SimPlatform::CloseFile(Handle file) {
    Object* o = FindHandle(file);
    if (!o || o->kind != Object::Kind::File) return Fail(kErrorInvalidHandle);
    std::fclose(static_cast<std::FILE*>(o->file));
    handles_.erase(file);
    return true;
}

// --- drive letters, disks and volumes -----------------------------------------

std::uint32_t SimPlatform::GetLogicalDrives() {
    if (auto f = Rule("GetLogicalDrives")) {
        lastError_ = f->error.value_or(0);
        return f->returns.value_or(0);
    }
    std::uint32_t mask = 0;
    for (const Volume& v : machine_.volumes) mask |= 1u << (v.letter - u'A');
    return mask;
}

std::uint32_t SimPlatform::QueryDosDeviceW(const char16_t* deviceName, char16_t* targetPath, std::uint32_t capacity) {
    const std::u16string name = deviceName ? deviceName : u"";
    if (auto f = Rule("QueryDosDeviceW", name)) {
        lastError_ = f->error.value_or(0);
        return f->returns.value_or(0);
    }
    calls_.back() += " capacity=" + std::to_string(capacity);
    const Volume* v = name.size() == 2 && name[1] == u':' ? VolumeByLetter(name[0]) : nullptr;
    if (!v) return Fail(kErrorFileNotFound), 0;
    // A multi-string: the name, its terminator and the list's terminator.
    const std::size_t needed = v->device.size() + 2;
    if (needed > capacity) return Fail(kErrorInsufficientBuffer), 0;
    std::copy(v->device.begin(), v->device.end(), targetPath);
    targetPath[v->device.size()] = 0;
    targetPath[v->device.size() + 1] = 0;
    return static_cast<std::uint32_t>(needed);
}

Handle SimPlatform::CreateFileW(const char16_t* path, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
    const std::u16string p = path ? path : u"";
    if (auto f = Rule("CreateFileW", p)) {
        lastError_ = f->error.value_or(kErrorAccessDenied);
        return kInvalidHandle;
    }
    return OpenPath(p);
}

Handle SimPlatform::OpenPath(const std::u16string& p) {
    const std::u16string upper = AsciiUpper(p);
    static const std::u16string kDrive = u"\\\\.\\PHYSICALDRIVE";
    if (upper.compare(0, kDrive.size(), kDrive) == 0 && upper.size() > kDrive.size() &&
        upper.size() - kDrive.size() <= 10 &&
        std::all_of(upper.begin() + kDrive.size(), upper.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
        const std::uint64_t n = std::stoull(ToUtf8(upper.substr(kDrive.size())));
        if (n <= 0xFFFFFFFFu)
            if (const Disk* d = DiskByNumber(static_cast<std::uint32_t>(n)))
                return AddHandle(Object{Object::Kind::Disk, ToUtf8(p), p, static_cast<std::uint32_t>(d - machine_.disks.data()), nullptr});
    } else if (upper.size() == 6 && upper.compare(0, 4, u"\\\\.\\") == 0 && upper[5] == u':') {
        if (const Volume* v = VolumeByLetter(upper[4]))
            return AddHandle(Object{Object::Kind::Volume, ToUtf8(p), p, static_cast<std::uint32_t>(v - machine_.volumes.data()), nullptr});
    } else if (machine_.vtDriver && upper == AsciiUpper(kVtDriverPath)) {
        return AddHandle(Object{Object::Kind::VtDriver, ToUtf8(p), p, 0, nullptr});
    } else {
        // A disk opened through its device interface path.
        for (std::size_t i = 0; i < machine_.disks.size(); ++i)
            if (upper == AsciiUpper(machine_.disks[i].devicePath))
                return AddHandle(Object{Object::Kind::Disk, ToUtf8(p), p, static_cast<std::uint32_t>(i), nullptr});
    }
    lastError_ = kErrorFileNotFound;
    return kInvalidHandle;
}

bool SimPlatform::DeviceIoControl(Handle device, std::uint32_t code, const void*, std::uint32_t, void* out,
                                  std::uint32_t outSize, std::uint32_t* bytesReturned) {
    Object* o = FindHandle(device);
    const auto forced = Rule("DeviceIoControl", o ? o->path : u"", code);
    // The trace names the request, so a call can be told from others on the same device.
    calls_.back() += " ioctl=" + IoctlName(code);
    if (auto f = forced) {
        if (f->returns) {
            if (bytesReturned) *bytesReturned = *f->returns;
            return true;
        }
        return Fail(f->error.value_or(kErrorInvalidFunction));
    }
    if (!o || o->kind == Object::Kind::File) return Fail(kErrorInvalidHandle);
    if (bytesReturned) *bytesReturned = 0;
    if (code == kIoctlStorageGetDeviceNumber) return DeviceNumberRequest(*o, out, outSize, bytesReturned);
    if (o->kind == Object::Kind::VtDriver) {
        if (code != kIoctlVtGetStatus) return Fail(kErrorInvalidFunction);
        // The driver writes only the bytes it says it returns.
        const std::uint32_t n = std::min<std::uint32_t>(machine_.vtDriver->bytesReturned, 4);
        if (outSize < n) return Fail(kErrorInsufficientBuffer);
        for (std::uint32_t i = 0; i < n; ++i)
            static_cast<std::uint8_t*>(out)[i] = static_cast<std::uint8_t>(machine_.vtDriver->answer >> (8 * i));
        if (bytesReturned) *bytesReturned = n;
        return true;
    }
    // --- helper library ---
    if (o->kind == Object::Kind::Snapshot || o->kind == Object::Kind::Process || o->kind == Object::Kind::Thread)
        return Fail(kErrorInvalidHandle);
    if (o->kind == Object::Kind::Disk)
        if (auto answer = HelperDiskRequest(*o, code, out, outSize, bytesReturned)) return *answer;
    return o->kind == Object::Kind::Volume ? VolumeRequest(*o, code, out, outSize, bytesReturned)
                                           : DiskRequest(*o, code, out, outSize, bytesReturned);
}

bool SimPlatform::VolumeRequest(const Object& volume, std::uint32_t code, void* out, std::uint32_t outSize,
                                std::uint32_t* bytesReturned) {
    const Volume& v = machine_.volumes[volume.index];
    switch (code) {
    case kIoctlVolumeGetVolumeDiskExtents: {
        if (v.extents.empty()) return Fail(kErrorInvalidFunction);
        // VOLUME_DISK_EXTENTS: count, then 24-byte DISK_EXTENTs from offset 8.
        const std::size_t needed = 8 + 24 * v.extents.size();
        if (outSize < 32) return Fail(kErrorInsufficientBuffer);
        ByteWriter w(out, outSize);
        w.u32(v.extents.size());
        for (std::size_t i = 0; i < v.extents.size() && 8 + 24 * (i + 1) <= outSize; ++i) {
            w.seek(8 + 24 * i);
            w.u32(v.extents[i].disk);
            w.seek(16 + 24 * i);
            w.u64(v.extents[i].start);
            w.u64(v.extents[i].length);
        }
        if (needed > outSize) return Fail(kErrorMoreData);
        if (bytesReturned) *bytesReturned = static_cast<std::uint32_t>(needed);
        return true;
    }
    default:
        return Fail(kErrorInvalidFunction);
    }
}

bool SimPlatform::CloseHandle(Handle handle) {
    Object* o = FindHandle(handle);
    if (!o || o->kind == Object::Kind::File) return Fail(kErrorInvalidHandle);
    handles_.erase(handle);
    readPositions_.erase(handle);
    return true;
}

// --- WMI ----------------------------------------------------------------------

HRESULT SimPlatform::CreateWbemLocator(Interface* locator) {
    *locator = 0;
    if (auto f = Rule("CoCreateInstance")) return static_cast<HRESULT>(f->error.value_or(static_cast<std::uint32_t>(kCoENotInitialized)));
    *locator = AddInterface(ComObject{ComObject::Kind::Locator, {}, {}});
    return kSOk;
}

HRESULT SimPlatform::ConnectServer(Interface locator, const char16_t* nameSpace, Interface* services) {
    *services = 0;
    const std::u16string ns = nameSpace ? nameSpace : u"";
    if (auto f = Rule("ConnectServer", ns)) return static_cast<HRESULT>(f->error.value_or(static_cast<std::uint32_t>(kEFail)));
    if (!FindInterface(locator, ComObject::Kind::Locator)) return kEFail;
    const std::u16string upper = AsciiUpper(ns);
    if (!machine_.wmi.count(upper)) return kWbemEInvalidNamespace;
    *services = AddInterface(ComObject{ComObject::Kind::Services, upper, {}});
    return kSOk;
}

HRESULT SimPlatform::SetProxyBlanket(Interface services) {
    if (auto f = Rule("CoSetProxyBlanket")) return static_cast<HRESULT>(f->error.value_or(static_cast<std::uint32_t>(kEFail)));
    return FindInterface(services, ComObject::Kind::Services) ? kSOk : kEFail;
}

HRESULT SimPlatform::CreateInstanceEnum(Interface services, const char16_t* className, Interface* enumerator) {
    *enumerator = 0;
    const std::u16string cls = className ? className : u"";
    if (auto f = Rule("CreateInstanceEnum", cls)) return static_cast<HRESULT>(f->error.value_or(static_cast<std::uint32_t>(kEFail)));
    const ComObject* s = FindInterface(services, ComObject::Kind::Services);
    if (!s) return kEFail;
    if (!FindClass(s->nameSpace, cls)) return kWbemEInvalidClass;
    *enumerator = AddInterface(ComObject{ComObject::Kind::Enumerator, s->nameSpace, cls});
    return kSOk;
}

HRESULT SimPlatform::Next(Interface enumerator, std::int32_t, std::uint32_t count, Interface* object,
                          std::uint32_t* returned) {
    *object = 0;
    *returned = 0;
    ComObject* e = FindInterface(enumerator, ComObject::Kind::Enumerator);
    if (auto f = Rule("Next", e ? e->className : u"")) return static_cast<HRESULT>(f->error.value_or(static_cast<std::uint32_t>(kEFail)));
    if (!e || count != 1) return kEFail;
    const WmiClass* cls = FindClass(e->nameSpace, e->className);
    if (!cls || e->position >= cls->size()) return kSFalse;  // WBEM_S_FALSE: nothing more
    ComObject o{ComObject::Kind::ClassObject, e->nameSpace, e->className};
    o.instance = &(*cls)[e->position++];
    *object = AddInterface(std::move(o));
    *returned = 1;
    return kSOk;
}

namespace {

// How WMI hands a CIM type over in a variant.
std::uint16_t VariantTypeOf(std::int32_t cimType) {
    const std::uint16_t array = (cimType & CIM_FLAG_ARRAY) ? VT_ARRAY : 0;
    switch (cimType & ~CIM_FLAG_ARRAY) {
    case CIM_SINT8: case CIM_SINT16: case CIM_CHAR16: return array | VT_I2;
    case CIM_UINT8: return array | VT_UI1;
    case CIM_UINT16: case CIM_SINT32: case CIM_UINT32: return array | VT_I4;
    case CIM_REAL32: return array | VT_R4;
    case CIM_REAL64: return array | VT_R8;
    case CIM_BOOLEAN: return array | VT_BOOL;
    case CIM_OBJECT: return array | VT_UNKNOWN;
    default: return array | VT_BSTR;  // strings, 64-bit integers, date-times, references
    }
}

Variant ToVariant(const WmiValue& v) {
    Variant out;
    if (v.isNull) {
        out.vt = VT_NULL;
        return out;
    }
    out.vt = VariantTypeOf(v.cimType);
    if (out.vt & VT_ARRAY) {
        out.bytes = v.bytes;
        out.texts = v.strings;
        out.integers = v.integers;
        if ((out.vt & ~VT_ARRAY) == VT_UI1 && out.bytes.empty())
            for (auto i : v.integers) out.bytes.push_back(static_cast<std::uint8_t>(i));
        return out;
    }
    switch (out.vt) {
    case VT_BSTR:
        out.text = v.text;
        break;
    case VT_R4: {
        float f = static_cast<float>(v.real);
        std::memcpy(&out.bits32, &f, 4);
        break;
    }
    case VT_R8: {
        double d = v.real;
        std::uint64_t bits;
        std::memcpy(&bits, &d, 8);
        out.bits32 = static_cast<std::uint32_t>(bits);
        break;
    }
    case VT_BOOL:
        out.integer = v.integer ? -1 : 0;  // VARIANT_TRUE
        out.bits32 = v.integer ? 0xFFFFu : 0;
        break;
    case VT_UI1:
        out.integer = v.integer & 0xFF;
        out.bits32 = static_cast<std::uint32_t>(out.integer);
        break;
    case VT_I2:
        out.integer = static_cast<std::int16_t>(v.integer);
        out.bits32 = static_cast<std::uint16_t>(out.integer);
        break;
    default:
        out.integer = static_cast<std::int32_t>(v.integer);
        out.bits32 = static_cast<std::uint32_t>(v.integer);
        break;
    }
    return out;
}

}  // namespace

HRESULT SimPlatform::Get(Interface object, const char16_t* name, Variant* value, std::int32_t* cimType) {
    ComObject* o = FindInterface(object, ComObject::Kind::ClassObject);
    const std::u16string prop = name ? name : u"";
    if (auto f = Rule("Get", (o ? o->className : u"") + u"." + prop)) return static_cast<HRESULT>(f->error.value_or(static_cast<std::uint32_t>(kEFail)));
    if (!o) return kEFail;
    for (const auto& [propName, v] : *o->instance) {
        if (!EqualsNoCase(propName, prop)) continue;
        *value = ToVariant(v);
        if (cimType) *cimType = v.cimType;
        return kSOk;
    }
    return kWbemENotFound;
}

void SimPlatform::Release(Interface object) { interfaces_.erase(object); }

}  // namespace qf::sim
