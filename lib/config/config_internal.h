// Private declarations shared by the configuration library's modules.
#pragma once

#include <cstddef>

#include "suite_config.h"

#define OSTREL_REASON_FN QRT_CONFIG_GetErrorReason
#include "ostrel/trace.hpp"

namespace ostrel::config {

// Releases a whole list at scope exit unless released to the caller.
class ListOwner {
  public:
    ListOwner() = default;
    ~ListOwner() { QRT_FreeEnvList(list_); }
    ListOwner(const ListOwner &) = delete;
    ListOwner &operator=(const ListOwner &) = delete;
    ZQ_ENV_LIST **out() { return &list_; }
    ZQ_ENV_LIST *get() const { return list_; }
    ZQ_ENV_LIST *release() {
        ZQ_ENV_LIST *l = list_;
        list_ = nullptr;
        return l;
    }

  private:
    ZQ_ENV_LIST *list_ = nullptr;
};

// Speeds up building one list from a whole file: the keys seen so far and the last entry, so
// that each new key costs a hash look-up instead of a walk over the list. The table holds the
// list's own key texts (open addressing, at most half full).
class KeyIndex {
  public:
    KeyIndex() = default;
    ~KeyIndex() { QRT_free(slots_); }
    KeyIndex(const KeyIndex &) = delete;
    KeyIndex &operator=(const KeyIndex &) = delete;

    bool contains(const char *key) const;
    // False when memory is short for a larger table.
    [[nodiscard]] bool insert(const char *key);

    ZQ_ENV_LIST *last = nullptr;

  private:
    const char **slots_ = nullptr;
    size_t capacity_ = 0;  // a power of two, or 0
    size_t count_ = 0;
};

// QRT_AddKeyIntoEnvList, optionally with an index; *added (when given) is the new entry.
int add_key(ZQ_ENV_LIST *list, const char *key, KeyIndex *index, ZQ_ENV_LIST **added);

// QRT_ParseLine, optionally with an index kept across the lines of one file.
int parse_line(ZQ_ENV_LIST *list, const char *line, KeyIndex *index);

// QRT_GetOneLine from the current position of the file.
int collect_line(FILE *file, char **line);

// A copy of n bytes of `text` with a terminator, from QRT_malloc; NULL when memory is short.
char *copy_text(const char *text, size_t n);

}  // namespace ostrel::config
