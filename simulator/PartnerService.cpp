#include "simulator/PartnerService.h"

namespace simulator {

void PartnerService::script(const std::string& path, std::vector<Answer> answers) {
    if (answers.empty()) answers.push_back(Answer::ok());
    for (const char* method : {"GET", "PUT", "POST"}) server_.route(method, path, answers);
}

void PartnerService::scriptStatuses(const std::string& path, const std::vector<int>& statuses) {
    std::vector<Answer> answers;
    for (int status : statuses) answers.push_back(Answer::withStatus(status, status >= 400 ? "partner error" : ""));
    script(path, std::move(answers));
}

}  // namespace simulator
