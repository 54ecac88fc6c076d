#include "Nautilus/FakeNautilusFileInfo.h"

#include <utility>

namespace corvane::test {
namespace {

struct FakeFile {
    GObject parent;
    FakeNautilusFileInfo::Record* record;
};

struct FakeFileClass {
    GObjectClass parent;
};

FakeNautilusFileInfo::Record& recordOf(NautilusFileInfo* file)
{
    return *reinterpret_cast<FakeFile*>(file)->record;
}

GFile* getLocation(NautilusFileInfo* file)
{
    const auto& record = recordOf(file);
    return record.isURI ? g_file_new_for_uri(record.location.c_str())
                        : g_file_new_for_path(record.location.c_str());
}

void addEmblem(NautilusFileInfo* file, const char* name)
{
    recordOf(file).emblems.emplace_back(name);
}

void invalidateExtensionInfo(NautilusFileInfo* file)
{
    auto& record = recordOf(file);
    ++record.invalidations;
    record.emblems.clear();
}

void initFileInfo(gpointer iface, gpointer)
{
    auto* info = static_cast<NautilusFileInfoInterface*>(iface);
    info->get_location = getLocation;
    info->add_emblem = addEmblem;
    info->invalidate_extension_info = invalidateExtensionInfo;
}

GType fakeFileType()
{
    static const GType type = [] {
        const GType registered = g_type_register_static_simple(
            G_TYPE_OBJECT, "CorvaneTestFakeFileInfo", sizeof(FakeFileClass), nullptr,
            sizeof(FakeFile), nullptr, GTypeFlags{});
        const GInterfaceInfo info{initFileInfo, nullptr, nullptr};
        g_type_add_interface_static(registered, NAUTILUS_TYPE_FILE_INFO, &info);
        return registered;
    }();
    return type;
}

}  // namespace

FakeNautilusFileInfo FakeNautilusFileInfo::atPath(const std::string& path)
{
    return FakeNautilusFileInfo(path, false);
}

FakeNautilusFileInfo FakeNautilusFileInfo::atURI(const std::string& uri)
{
    return FakeNautilusFileInfo(uri, true);
}

FakeNautilusFileInfo::FakeNautilusFileInfo(std::string location, bool isURI)
    : m_record(std::make_unique<Record>(Record{std::move(location), isURI, {}, 0})),
      m_object(static_cast<GObject*>(g_object_new(fakeFileType(), nullptr)))
{
    reinterpret_cast<FakeFile*>(m_object.get())->record = m_record.get();
}

}  // namespace corvane::test
