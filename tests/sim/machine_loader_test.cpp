#include "platform/sim/machine.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qf::sim {
namespace {

// A description: the format line and the given top-level members.
Machine Load(const std::string& members) {
    return LoadMachine("{\"format\":\"qf-machine/1\"" + (members.empty() ? "" : "," + members) + "}", "fallback");
}

std::string ErrorOf(const std::string& text) {
    try {
        LoadMachine(text, "x");
    } catch (const MachineError& e) {
        return e.what();
    }
    return "(loaded)";
}

const WmiInstance& Instance(const Machine& m, const std::u16string& ns, const std::u16string& cls, std::size_t i = 0) {
    return m.wmi.at(ns).at(cls).at(i);
}

const WmiValue& Prop(const WmiInstance& inst, const std::u16string& name) {
    auto it = std::find_if(inst.begin(), inst.end(), [&](const auto& p) { return p.first == name; });
    if (it == inst.end()) throw std::out_of_range("no property");
    return it->second;
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST(MachineLoader, RejectsBadDescriptionsNamingPathAndReason) {
    const std::string disk = R"("disks":[{"sizeBytes":"1GiB"}])";
    const std::pair<std::string, std::string> cases[] = {
        {R"("colour":"red")", "colour: unknown key"},
        {R"("disks":[{"sizeBytes":1,"partitions":[{"type":7,"size":1}]}])", "disks[0].partitions[0].size: unknown key"},
        {R"("disks":[{"sizeBytes":1,"partitions":[{},{},{"type":true}]}])",
         R"(disks[0].partitions[2].type: expected an integer 0-255 or a "0x.." string)"},
        {R"("disks":[{"sizeBytes":1,"partitions":[{"type":"0x100"}]}])", R"(disks[0].partitions[0].type: "0x100" is out of range 0-255)"},
        {R"("memory":{"totalPhysical":-1})", "memory.totalPhysical: -1 is negative"},
        {R"("memory":{"totalPhysical":"3.5GiB"})",
         R"(memory.totalPhysical: expected a byte count: an integer, a "0x.." string or a size like "500GiB")"},
        {R"("memory":{"totalPhysical":"3GB"})", R"(memory.totalPhysical: unknown unit "GB" (use KiB, MiB, GiB or TiB))"},
        {R"("memory":{"totalPhysical":"16777216TiB"})", R"(memory.totalPhysical: "16777216TiB" is too large)"},
        {R"("disks":[{"sizeBytes":1,"firstSector":"55 ag"}])", "disks[0].firstSector: 'g' is not a hex digit"},
        {R"("disks":[{"sizeBytes":1,"firstSector":"55 a"}])", "disks[0].firstSector: odd number of hex digits"},
        {R"("disks":[{"number":1}])", "disks[0].sizeBytes: required key is missing"},
        {R"("disks":[{"sizeBytes":1},{"sizeBytes":1,"number":0}])", "disks[1].number: disk number 0 is already used by disks[0]"},
        {disk + R"(,"volumes":[{"device":"x"}])", "volumes[0].letter: required key is missing"},
        {disk + R"(,"volumes":[{"letter":"CD"}])", R"(volumes[0].letter: expected a drive letter "A" to "Z")"},
        {disk + R"(,"volumes":[{"letter":"c"},{"letter":"C"}])", "volumes[1].letter: drive letter C is already used by volumes[0]"},
        {disk + R"(,"volumes":[{"letter":"C","extents":[{"disk":3,"start":0,"length":1}]}])",
         "volumes[0].extents[0].disk: no disk has number 3"},
        {R"("os":{"diskpart":{"exitCode":1,"wait":true}})", "os.diskpart.wait: unknown key"},
        {R"("cpu":{"vmx":true,"cpuid1Ecx":32})", R"(cpu: give either "cpuid1Ecx" or "vmx", not both)"},
        {R"("vtDriver":{"answer":5,"bytesReturned":5})", "vtDriver.bytesReturned: 5 is out of range 0-4"},
        {R"("firmware":{"raw":"","structures":[]})", R"(firmware: give either "structures" or "raw", not both)"},
        {R"("firmware":{"structures":[{"type":1,"strings":["a",""]}]})",
         "firmware.structures[0].strings[1]: a string of the string-set must be non-empty and free of NUL"},
        {R"("errors":[{"call":"DeleteFileW","error":5}])", R"(errors[0].call: unknown call "DeleteFileW")"},
        {R"("errors":[{"call":"DeviceIoControl","ioctl":"IOCTL_DISK_FORMAT","error":5}])",
         R"(errors[0].ioctl: unknown control code "IOCTL_DISK_FORMAT")"},
        {R"("errors":[{"call":"ReadFile","ioctl":"0x70000","error":5}])", "errors[0].ioctl: only DeviceIoControl takes an ioctl"},
        {R"("errors":[{"call":"ReadFile","error":5,"returns":0}])", R"(errors[0]: give exactly one of "error" or "returns")"},
        {R"("errors":[{"call":"ReadFile","nth":0,"error":5}])", "errors[0].nth: 0 is out of range 1-4294967295"},
        {R"("wmi":{"ROOT\\WMI":{"X":[{"P":{"cimType":99,"value":1}}]}})", R"(wmi.ROOT\WMI.X[0].P.cimType: unknown CIM type 99)"},
        {R"("wmi":{"ROOT\\WMI":{"X":[{"P":1,"p":2}]}})", R"(wmi.ROOT\WMI.X[0].p: named twice (names compare without case))"},
        {R"("name":"a","name":"b")", R"($: duplicate key "name")"},
    };
    for (const auto& [members, expected] : cases)
        EXPECT_EQ(ErrorOf("{\"format\":\"qf-machine/1\"," + members + "}"), expected) << members;

    EXPECT_EQ(ErrorOf(R"({"name":"x"})"), "format: required key is missing");
    EXPECT_EQ(ErrorOf(R"({"format":"qf-machine/2"})"), R"(format: expected "qf-machine/1")");
    EXPECT_EQ(ErrorOf("[]"), "$: expected an object");
    try {
        LoadMachine(R"({"format":"qf-machine/1",})", "x");
        FAIL() << "loaded";
    } catch (const MachineError& e) {
        EXPECT_EQ(e.path(), "$");
        EXPECT_NE(e.reason().find("parse error"), std::string::npos) << e.reason();
    }
}

TEST(MachineLoader, ReadsNumbersInEveryForm) {
    const std::pair<std::string, std::uint64_t> cases[] = {
        {"2000000000", 2000000000}, {"\"2000000000\"", 2000000000}, {"\"0x77359400\"", 2000000000},
        {"\"0XfF\"", 255}, {"\"4KiB\"", 4096}, {"\"1945MiB\"", 1945ull << 20}, {"\"500GiB\"", 500ull << 30},
        {"\"2TiB\"", 2ull << 40}, {"\"18446744073709551615\"", UINT64_MAX},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Load(R"("memory":{"totalPhysical":)" + text + "}").totalPhysicalMemory, expected) << text;

    // Error numbers and driver answers take signed and unsigned 32-bit forms alike.
    const Machine m = Load(R"("vtDriver":{"answer":-5},
        "errors":[{"call":"ConnectServer","error":"0x8004100E"},{"call":"Get","error":-2147217394},
                  {"call":"DeviceIoControl","ioctl":"IOCTL_DISK_UPDATE_PROPERTIES","nth":2,"returns":"0"},
                  {"call":"DeviceIoControl","ioctl":"0x222000","target":"\\\\.\\C:","error":1}])");
    EXPECT_EQ(m.vtDriver->answer, 0xFFFFFFFBu);
    EXPECT_EQ(m.vtDriver->bytesReturned, 4u);
    ASSERT_EQ(m.errors.size(), 4u);
    EXPECT_EQ(m.errors[0].error, 0x8004100Eu);
    EXPECT_EQ(m.errors[1].error, 0x8004100Eu);
    EXPECT_EQ(m.errors[2].ioctl, 0x70140u);
    EXPECT_EQ(m.errors[2].nth, 2u);
    EXPECT_EQ(m.errors[2].returns, 0u);
    EXPECT_FALSE(m.errors[2].error);
    EXPECT_EQ(m.errors[3].ioctl, 0x222000u);
    EXPECT_EQ(m.errors[3].target, u"\\\\.\\C:");
}

TEST(MachineLoader, ControlCodesMatchTheSystemHeaders) {
    EXPECT_EQ(IoctlCode("IOCTL_DISK_GET_DRIVE_GEOMETRY"), 0x70000u);
    EXPECT_EQ(IoctlCode("IOCTL_DISK_GET_DRIVE_LAYOUT"), 0x7400Cu);
    EXPECT_EQ(IoctlCode("IOCTL_DISK_GET_DRIVE_LAYOUT_EX"), 0x70050u);
    EXPECT_EQ(IoctlCode("IOCTL_DISK_GET_DRIVE_GEOMETRY_EX"), 0x700A0u);
    EXPECT_EQ(IoctlCode("IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS"), 0x560000u);
    EXPECT_EQ(IoctlCode("IOCTL_STORAGE_GET_DEVICE_NUMBER"), 0x2D1080u);
    EXPECT_FALSE(IoctlCode("ioctl_disk_get_drive_layout"));
}

TEST(MachineLoader, MinimalDescriptionGetsOneDiskWithCOnItsFirstPartition) {
    const Machine m = Load("");
    EXPECT_EQ(m.name, "fallback");
    ASSERT_EQ(m.disks.size(), 1u);
    const Disk& d = m.disks[0];
    EXPECT_EQ(d.number, 0u);
    EXPECT_EQ(d.style, PartitionStyle::Mbr);
    ASSERT_EQ(d.partitions.size(), 4u);
    EXPECT_EQ(d.partitions[0].type, 0x07);
    EXPECT_EQ(d.partitions[0].start, 1u << 20);
    EXPECT_EQ(d.partitions[0].number, 1u);
    EXPECT_LE(d.partitions[0].start + d.partitions[0].length, d.sizeBytes);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(d.partitions[i].type, 0) << i;
    EXPECT_EQ(d.instanceId, u"IDE\\DISKVENDOR_MODEL_____________________1.0_____\\5&2AB1B9AB&0&0.0.0");
    EXPECT_EQ(d.devicePath,
              u"\\\\?\\ide#diskvendor_model_____________________1.0_____#5&2ab1b9ab&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_EQ(d.parentInstanceId, u"PCIIDE\\IDECHANNEL\\4&2617AEAE&0&0");

    ASSERT_EQ(m.volumes.size(), 1u);
    const Volume& c = m.volumes[0];
    EXPECT_EQ(c.letter, u'C');
    EXPECT_EQ(c.driveType, 3u);
    ASSERT_EQ(c.extents.size(), 1u);
    EXPECT_EQ(c.extents[0].start, d.partitions[0].start);
    EXPECT_EQ(c.extents[0].length, d.partitions[0].length);
    EXPECT_GT(c.freeBytes, 0u);
    EXPECT_EQ(m.os.bootDevice, c.device);
    EXPECT_EQ(c.device, u"\\Device\\HarddiskVolume1");

    EXPECT_TRUE(m.cpuid1Ecx & 0x20);
    EXPECT_FALSE(m.vtDriver);
    EXPECT_EQ(m.pciDevices.size(), 2u);
    ASSERT_EQ(m.acpiDevices.size(), 1u);
    EXPECT_TRUE(m.acpiDevices[0].friendlyName);
    EXPECT_EQ(m.processes, (std::vector<std::string>{"System", "explorer.exe"}));
    EXPECT_FALSE(m.bitlockerVolumes);
    EXPECT_FALSE(m.wmi.at(u"ROOT\\CIMV2").count(u"WIN32_ENCRYPTABLEVOLUME"));
    EXPECT_EQ(Prop(Instance(m, u"ROOT\\CIMV2", u"WIN32_OPERATINGSYSTEM"), u"Version").text, u"6.0.6001");
}

TEST(MachineLoader, DefaultFirstSectorIsAnMbrOfTheListedEntries) {
    const Machine m = Load(R"("os":{"windowsDirectory":"d:\\Windows"},
        "disks":[{"sizeBytes":"200GiB","partitions":[
            {"type":"0x27","start":32256,"length":"100MiB"},{"type":7,"start":"101MiB","length":"150GiB"}]}],
        "volumes":[{"letter":"C","extents":[{"disk":0,"start":32256,"length":"100MiB"}]},
                   {"letter":"D","extents":[{"disk":0,"start":"101MiB","length":"150GiB"}]}])");
    const Disk& d = m.disks[0];
    ASSERT_EQ(d.partitions.size(), 2u) << "an MBR layout is kept as listed";
    const Bytes& s = d.firstSector;
    ASSERT_EQ(s.size(), 512u);
    EXPECT_TRUE(std::all_of(s.begin(), s.begin() + 446, [](auto b) { return b == 0; }));
    EXPECT_EQ(s[510], 0x55);
    EXPECT_EQ(s[511], 0xAA);

    // Entry 0: inactive, from LBA 63 (C/H/S 0/1/1), 100 MiB long.
    const Bytes entry0(s.begin() + 446, s.begin() + 462);
    EXPECT_EQ(entry0, (Bytes{0x00, 0x01, 0x01, 0x00, 0x27, 0xBF, 0x32, 0x0C,  // end: LBA 204862 = C/H/S 12/191/50
                             63, 0, 0, 0, 0x00, 0x20, 0x03, 0x00}));
    // Entry 1 holds the Windows volume (D:), so it is the active one; its end lies past cylinder 1023.
    EXPECT_EQ(s[462], 0x80);
    EXPECT_EQ(s[462 + 4], 0x07);
    EXPECT_EQ((Bytes{s[462 + 5], s[462 + 6], s[462 + 7]}), (Bytes{0xFE, 0xFF, 0xFF}));
    EXPECT_EQ(Le32(s, 462 + 8), 101u * 2048);
    EXPECT_EQ(Le32(s, 462 + 12), 150u * 2048 * 1024);
    EXPECT_TRUE(std::all_of(s.begin() + 478, s.begin() + 510, [](auto b) { return b == 0; }));
    EXPECT_EQ(m.os.bootDevice, u"\\Device\\HarddiskVolume2");
}

TEST(MachineLoader, FirstSectorFollowsTheDiskStyle) {
    const Machine m = Load(R"("disks":[{"sizeBytes":"4TiB","style":"gpt"},{"sizeBytes":"1GiB","style":"raw"},
                                       {"sizeBytes":"1GiB","firstSector":"55 aa"}])");
    const Bytes& gpt = m.disks[0].firstSector;
    EXPECT_EQ(m.disks[0].partitions.size(), 1u) << "no MBR slots on a GPT disk";
    EXPECT_EQ(gpt[446 + 4], 0xEE);
    EXPECT_EQ(Le32(gpt, 446 + 8), 1u);
    EXPECT_EQ(Le32(gpt, 446 + 12), 0xFFFFFFFFu) << "sector count clamped to 32 bits";
    EXPECT_EQ(gpt[510], 0x55);
    EXPECT_EQ(m.disks[1].firstSector, Bytes(512, 0));
    EXPECT_TRUE(m.disks[1].partitions.empty());
    EXPECT_EQ(m.disks[2].firstSector, (Bytes{0x55, 0xAA})) << "a short read as described";
}

TEST(MachineLoader, NumbersPartitionsAndNamesDevicesAsTheSystemDoes) {
    const Machine m = Load(R"("disks":[
          {"sizeBytes":"100GiB","partitions":[{"type":7,"start":"1MiB","length":"1GiB"},{"type":"0x0F","start":"2GiB","length":"8GiB"},
                                               {"type":0},{"type":0},{"type":7,"start":"3GiB","length":"1GiB"}]},
          {"number":3,"sizeBytes":"1GiB","instanceId":"SCSI\\DISK&VEN_X&PROD_Y\\4&1&0&000100","parentInstanceId":null},
          {"number":4,"sizeBytes":"1GiB","devicePath":"\\\\?\\usbstor#disk&ven_a#7&1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"}],
        "volumes":[{"letter":"c","extents":[{"disk":0,"start":"1MiB","length":"1GiB"}]},{"letter":"E"},
                   {"letter":"F","extents":[{"disk":3,"start":0,"length":"1GiB"}]},{"letter":"G","driveType":2}])");
    std::vector<std::uint32_t> numbers;
    for (const auto& p : m.disks[0].partitions) numbers.push_back(p.number);
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{1, 0, 0, 0, 2}));

    EXPECT_EQ(m.disks[1].devicePath, u"\\\\?\\scsi#disk&ven_x&prod_y#4&1&0&000100#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_FALSE(m.disks[1].parentInstanceId);
    EXPECT_EQ(m.disks[2].instanceId, u"USBSTOR\\DISK&VEN_A\\7&1&0");
    EXPECT_EQ(m.disks[2].parentInstanceId, u"PCIIDE\\IDECHANNEL\\4&2617AEAE&0&4");

    std::vector<std::u16string> devices;
    std::vector<std::uint32_t> types;
    for (const auto& v : m.volumes) devices.push_back(v.device), types.push_back(v.driveType);
    EXPECT_EQ(devices, (std::vector<std::u16string>{u"\\Device\\HarddiskVolume1", u"\\Device\\CdRom0",
                                                     u"\\Device\\HarddiskVolume2", u"\\Device\\CdRom1"}));
    EXPECT_EQ(types, (std::vector<std::uint32_t>{3, 5, 3, 2}));
    EXPECT_EQ(m.volumes[0].letter, u'C');
}

TEST(MachineLoader, BootDeviceAndCpuOptions) {
    const Machine noBoot = Load(R"("os":{"bootDevice":null})");
    EXPECT_FALSE(noBoot.os.bootDevice);
    EXPECT_TRUE(Prop(Instance(noBoot, u"ROOT\\CIMV2", u"WIN32_OPERATINGSYSTEM"), u"BootDevice").isNull);
    EXPECT_EQ(Load(R"("os":{"windowsDirectory":"Q:\\Windows"})").os.bootDevice, u"\\Device\\HarddiskVolume1");
    // Text arrives as UTF-16, characters outside the BMP as surrogate pairs.
    EXPECT_EQ(Load(R"("os":{"windowsDirectory":"C:\\Fenêtre😀"})").os.windowsDirectory, u"C:\\Fen\u00EAtre\xD83D\xDE00");

    const Machine noVmx = Load(R"("cpu":{"vmx":false})");
    EXPECT_EQ(noVmx.cpuid1Ecx | 0x20, Load("").cpuid1Ecx);
    EXPECT_FALSE(noVmx.cpuid1Ecx & 0x20);
    EXPECT_EQ(Load(R"("cpu":{"cpuid1Ecx":"0x20"})").cpuid1Ecx, 0x20u);

    EXPECT_EQ(Load(R"("os":{"diskpart":false})").os.diskpart, DiskpartMode::Absent);
    const Machine fixed = Load(R"("os":{"diskpart":{"exitCode":-1}})");
    EXPECT_EQ(fixed.os.diskpart, DiskpartMode::FixedExit);
    EXPECT_EQ(fixed.os.diskpartExitCode, -1);
}

TEST(MachineLoader, BuildsTheStructureTableAndRsmbAnswer) {
    const Machine m = Load(R"("firmware":{"smbiosVersion":[2,7],"structures":[
        {"type":1,"handle":"0x0102","data":"01 02","strings":["Ab","C"]},{"type":127,"handle":65279}]})");
    const Bytes table = {0x01, 0x06, 0x02, 0x01, 0x01, 0x02, 'A', 'b', 0, 'C', 0, 0,
                         0x7F, 0x04, 0xFF, 0xFE, 0, 0};
    EXPECT_EQ(m.firmware.table, table);
    Bytes rsmb = {0, 2, 7, 0, static_cast<std::uint8_t>(table.size()), 0, 0, 0};
    rsmb.insert(rsmb.end(), table.begin(), table.end());
    EXPECT_EQ(m.firmware.rsmb, rsmb);

    const WmiInstance& smbios = Instance(m, u"ROOT\\WMI", u"MSSMBIOS_RAWSMBIOSTABLES");
    EXPECT_EQ(Prop(smbios, u"SMBiosData").cimType, CIM_UINT8 | CIM_FLAG_ARRAY);
    EXPECT_EQ(Prop(smbios, u"SMBiosData").bytes, table);
    EXPECT_EQ(Prop(smbios, u"SmbiosMajorVersion").cimType, CIM_UINT8);
    EXPECT_EQ(Prop(smbios, u"SmbiosMajorVersion").integer, 2);
    EXPECT_EQ(Prop(smbios, u"SmbiosMinorVersion").integer, 7);

    const Machine raw = Load(R"("firmware":{"raw":"01 1b","rsmb":"00"})");
    EXPECT_EQ(raw.firmware.table, (Bytes{0x01, 0x1B}));
    EXPECT_EQ(raw.firmware.rsmb, (Bytes{0x00}));

    // The built-in table: System Information, then the end-of-table marker.
    const Bytes& builtin = Load("").firmware.table;
    EXPECT_EQ(builtin[0], 1);
    EXPECT_EQ(builtin[1], 0x1B);
    EXPECT_EQ(Bytes(builtin.end() - 6, builtin.end()), (Bytes{0x7F, 0x04, 0xFF, 0xFE, 0, 0}));
}

TEST(MachineLoader, WmiSectionTypesValuesAndReplacesDerivedClasses) {
    const Machine m = Load(R"("bitlocker":{"volumes":[{"PersistentVolumeID":"{D1A2}"},{"PersistentVolumeID":null}]},
      "wmi":{"root\\cimv2":{"Win32_OperatingSystem":[],
        "Win32_Thing":[{"Name":"x","Count":-7,"On":true,
          "Big":{"cimType":21,"value":"18446744073709551615"},"Small":{"cimType":16,"value":-128},
          "None":{"cimType":8,"value":null},"Hex":{"cimType":8209,"value":"de ad"},"List":{"cimType":8209,"value":[1,"0x2"]},
          "Names":{"cimType":8200,"value":["a","b"]},"Ratio":{"cimType":5,"value":0.5},
          "When":{"cimType":101,"value":"20080101000000.000000+000"}}]}})");
    const auto& cimv2 = m.wmi.at(u"ROOT\\CIMV2");
    EXPECT_TRUE(cimv2.at(u"WIN32_OPERATINGSYSTEM").empty()) << "[] replaces the derived class";
    ASSERT_EQ(cimv2.at(u"WIN32_ENCRYPTABLEVOLUME").size(), 2u);
    EXPECT_EQ(Prop(cimv2.at(u"WIN32_ENCRYPTABLEVOLUME")[0], u"PersistentVolumeID").text, u"{D1A2}");
    EXPECT_TRUE(Prop(cimv2.at(u"WIN32_ENCRYPTABLEVOLUME")[1], u"PersistentVolumeID").isNull);
    EXPECT_TRUE(m.wmi.at(u"ROOT\\WMI").count(u"MSSMBIOS_RAWSMBIOSTABLES")) << "other derived classes stay";

    const WmiInstance& t = Instance(m, u"ROOT\\CIMV2", u"WIN32_THING");
    std::vector<std::u16string> names;
    for (const auto& p : t) names.push_back(p.first);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"__CLASS", u"Name", u"Count", u"On", u"Big", u"Small", u"None",
                                                   u"Hex", u"List", u"Names", u"Ratio", u"When"}));
    EXPECT_EQ(Prop(t, u"__CLASS").text, u"Win32_Thing");
    EXPECT_EQ(Prop(t, u"Name").cimType, CIM_STRING);
    EXPECT_EQ(Prop(t, u"Count").cimType, CIM_SINT32);
    EXPECT_EQ(Prop(t, u"Count").integer, -7);
    EXPECT_EQ(Prop(t, u"On").cimType, CIM_BOOLEAN);
    EXPECT_EQ(Prop(t, u"On").integer, 1);
    EXPECT_EQ(Prop(t, u"Big").cimType, CIM_UINT64);
    EXPECT_EQ(Prop(t, u"Big").text, u"18446744073709551615");
    EXPECT_EQ(Prop(t, u"Small").integer, -128);
    EXPECT_TRUE(Prop(t, u"None").isNull);
    EXPECT_EQ(Prop(t, u"None").cimType, CIM_STRING);
    EXPECT_EQ(Prop(t, u"Hex").bytes, (Bytes{0xDE, 0xAD}));
    EXPECT_EQ(Prop(t, u"List").bytes, (Bytes{1, 2}));
    EXPECT_EQ(Prop(t, u"Names").strings, (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_EQ(Prop(t, u"Ratio").real, 0.5);
    EXPECT_EQ(Prop(t, u"When").text, u"20080101000000.000000+000");

    EXPECT_EQ(ErrorOf(R"({"format":"qf-machine/1","wmi":{"N":{"C":[{"P":{"cimType":17,"value":256}}]}}})"),
              "wmi.N.C[0].P.value: 256 is out of range 0-255");
    EXPECT_EQ(ErrorOf(R"({"format":"qf-machine/1","wmi":{"N":{"C":[{"P":3000000000}]}}})"),
              "wmi.N.C[0].P: 3000000000 is out of range -2147483648-2147483647");
}

TEST(MachineLoader, BuiltInDefaultMachineLoads) {
    const Machine m = LoadMachine(DefaultMachineJson(), "default");
    ASSERT_EQ(m.disks.size(), 1u);
    const Disk& d = m.disks[0];
    ASSERT_EQ(d.partitions.size(), 4u);
    EXPECT_EQ(d.partitions[0].type, 0x27);
    EXPECT_EQ(d.partitions[1].type, 0x07);
    const auto end = d.partitions[1].start + d.partitions[1].length;
    EXPECT_GT(d.sizeBytes - end, 16ull << 30) << "room at the end of the disk";
    ASSERT_EQ(m.volumes.size(), 2u);
    EXPECT_EQ(m.volumes[0].extents.at(0).start, d.partitions[1].start);
    EXPECT_EQ(m.os.bootDevice, m.volumes[0].device);
    EXPECT_EQ(d.firstSector[446 + 16], 0x80) << "C: is the active partition";
    EXPECT_EQ(m.volumes[1].driveType, 5u);
    EXPECT_EQ(m.vtDriver->answer, 5u);
    EXPECT_TRUE(m.cpuid1Ecx & 0x20);
    EXPECT_GE(m.totalPhysicalMemory, 2000000000u);
    EXPECT_NE(std::find(m.processes.begin(), m.processes.end(), "explorer.exe"), m.processes.end());
    const Bytes& t = m.firmware.table;
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(Bytes(t.end() - 6, t.end()), (Bytes{0x7F, 0x04, 0x00, 0x7F, 0, 0}));
}

}  // namespace
}  // namespace qf::sim
