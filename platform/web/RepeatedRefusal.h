// Internal to the web module: a refusal a page may repeat many times in one
// go (a loop over setTimeout or location past their caps), logged once with
// how many there were. The first refusal of a main-queue turn posts its line;
// the others of that turn only count. Main thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform::web {

class RepeatedRefusal {
public:
    // `line` is logged (a warning) for the first refusal of the turn, with
    // " (<n> in all)" when more followed it; later lines of the turn are dropped.
    void refuse(std::string line);

private:
    struct Pending {
        std::string line;
        size_t count = 0;
    };
    std::shared_ptr<Pending> pending_;  // the turn's, until its line is logged
};

}  // namespace platform::web
