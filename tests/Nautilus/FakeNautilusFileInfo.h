#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Nautilus/GLibDeleter.h"
#include "Nautilus/NautilusExtensionApi.h"

namespace corvane::test {

// A file as Nautilus hands it to extensions, at a local path or a URI, recording the emblems
// added to it and how often its extension information was invalidated (which, as in Nautilus,
// drops the emblems). One thread.
class FakeNautilusFileInfo {
public:
    struct Record {
        std::string location;
        bool isURI = false;
        std::vector<std::string> emblems;
        int invalidations = 0;
    };

    static FakeNautilusFileInfo atPath(const std::string& path);
    static FakeNautilusFileInfo atURI(const std::string& uri);

    NautilusFileInfo* get() const { return NAUTILUS_FILE_INFO(m_object.get()); }
    const std::vector<std::string>& emblems() const { return m_record->emblems; }
    int invalidations() const { return m_record->invalidations; }
    // Drops our reference: the object is gone unless someone else holds one.
    void release() { m_object.reset(); }

private:
    FakeNautilusFileInfo(std::string location, bool isURI);

    std::unique_ptr<Record> m_record;
    GObjectPtr<GObject> m_object;
};

}  // namespace corvane::test
