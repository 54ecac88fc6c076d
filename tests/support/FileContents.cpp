#include "support/FileContents.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include <gtest/gtest.h>

namespace corvane::test {

std::string fileContents(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFileContents(const std::filesystem::path& file, std::string_view contents)
{
    std::error_code ignored;  // a folder that cannot be made fails the write below
    std::filesystem::create_directories(file.parent_path(), ignored);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    if (!out) {
        ADD_FAILURE() << "could not write " << file;
    }
}

}  // namespace corvane::test
