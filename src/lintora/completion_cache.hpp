// The per-instance cache of what completion items show of their definitions (jedi's type, the
// detail line, the documentation) for names defined in installed packages and the standard
// library. Those answers cost jedi inference per item on every request, yet cannot change while
// the files and the search path stay the same. Names from the buffer or the user's synced modules
// are never cached: their text changes between requests.
#pragma once

#include "lintora/common.hpp"

namespace lintora {

// What an item shows besides its name: jedi's type name, and a dict holding "detail" and
// "documentation" when the item has them, in that order.
struct ItemFields {
    Ref type;
    Ref extras;
};

class CompletionCache {
public:
    // The instance's cache for one request, made before the request's jedi.Script so that a
    // change of search path during the request discards what it computes. Inactive (every item
    // is computed) when the instance cannot carry one.
    CompletionCache(PyObject* module, PyObject* self);
    // The script that answers the request; until it is given nothing is cached.
    void attach(PyObject* script);

    // The fields of `completion` (named `name`): the cached ones when its definition has been seen,
    // else `compute()`, which are then kept when the definition lies in a library file.
    template <class Compute>
    ItemFields fields(PyObject* completion, PyObject* name, Compute&& compute) {
        Key key = key_for(completion, name);
        if (key.key) {
            ItemFields hit = lookup(key.key.get());
            if (hit.type) return hit;
        }
        ItemFields computed = compute();
        if (key.key) store(key, computed);
        return computed;
    }

private:
    // `key` is empty when the item must not be cached; `anchor` is the object whose address the
    // key holds, kept alive by the entry.
    struct Key {
        Ref key;
        Ref anchor;
    };
    Key key_for(PyObject* completion, PyObject* name);
    ItemFields lookup(PyObject* key);
    void store(const Key& key, const ItemFields& fields);

    Ref store_;  // the instance's store (a capsule), held for the request; empty when inactive
    unsigned long long epoch_ = 0;
    Ref script_path_;  // the buffer's path as jedi has it
    Ref user_prefix_;  // the temporary module directory followed by a separator, or empty
};

// Empties the instance's cache (search path changed, or the instance was cleaned up).
void forget_completion_cache(PyObject* module, PyObject* self);

// Limits of one instance's cache; the oldest-used entries go first.
constexpr Py_ssize_t kCompletionCacheEntries = 4096;
constexpr Py_ssize_t kCompletionCacheCharacters = 16 * 1024 * 1024;

}  // namespace lintora
