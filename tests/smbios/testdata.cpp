#include "smbios/table_builder.h"

namespace qftest {
namespace {

struct Embedded {
    const char* name;
    const unsigned char* bytes;
    std::size_t size;
};

#include "smbios_testdata.inc"

}  // namespace

const std::vector<TestdataFile>& SmbiosTestdata() {
    static const std::vector<TestdataFile> files = [] {
        std::vector<TestdataFile> out;
        for (const Embedded* e = kSmbiosTestdata; e->name; ++e) out.push_back({e->name, TableBytes(e->bytes, e->bytes + e->size)});
        return out;
    }();
    return files;
}

const TestdataFile* FindTestdata(const std::string& name) {
    for (const TestdataFile& f : SmbiosTestdata())
        if (f.name == name) return &f;
    return nullptr;
}

}  // namespace qftest
