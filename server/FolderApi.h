#pragma once

#include <nlohmann/json_fwd.hpp>

#include "Response.h"

namespace corvane::server {

struct FolderRecord;
struct Request;
struct Services;
struct User;

// Folders and file lists: GET/POST /api/folders, GET /api/folders/<id>/tree, GET /api/files.
// Thread-safe.
class FolderApi {
public:
    explicit FolderApi(Services& services) : m_services(services) {}

    Response list(const Request& request, const User& user);
    Response create(const Request& request, const User& user);
    Response tree(const std::string& folderId, const User& user);
    Response files(const Request& request, const User& user);

private:
    nlohmann::json treeOf(const FolderRecord& folder, const User& user);
    nlohmann::json filesOf(const FolderRecord& folder);

    Services& m_services;
};

}  // namespace corvane::server
