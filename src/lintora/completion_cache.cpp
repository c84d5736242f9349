// The completion cache of each Lintora instance (see completion_cache.hpp).
//
// Which definition an item stands for is read from jedi's name object behind the completion: the
// parse-tree leaf that defines it (or, for a submodule, the parent module's tree) together with
// the kinds of name object around it, which say how the name was reached (a module attribute, a
// class attribute, a method bound to an instance). jedi's parser keeps one tree per file and
// parses the file again when it changes, so a changed file brings new leaves and new keys. A key
// holds the leaf's address and its entry holds the leaf, so the address cannot be reused while
// the entry lives. What the name was reached through beyond that (which instance, which subclass)
// does not change the type, the detail or the documentation jedi gives.
//
// The stores live in a registry keyed by the instance's address and are dropped by a weak
// reference's callback when the instance goes: the instance's attribute dict stays as it was.
#include "lintora/completion_cache.hpp"

#include <memory>
#include <utility>

namespace lintora {
namespace {

using support::check;
using support::truthy;

constexpr const char* kCapsuleName = "lintora.completion_cache";

// One instance's entries: key -> (type, extras, size, defining object), least recently used first.
struct Store {
    Ref entries = Ref::steal(PyDict_New());
    Py_ssize_t characters = 0;
    // Bumped by every clear, so a request that began before it keeps nothing it computed.
    unsigned long long epoch = 0;
    // The temporary module directory's mtime when last seen: adding or removing a user module can
    // shadow a library module and change what library names resolve to.
    Ref generation = support::none();

    void clear() {
        Ref fresh = Ref::steal(PyDict_New());
        Ref old = std::move(entries);
        entries = std::move(fresh);
        characters = 0;
        ++epoch;
    }
};

void destroy_store(PyObject* capsule) {
    delete static_cast<Store*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

Store* store_of(PyObject* capsule) {
    auto* store = static_cast<Store*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    if (!store) support::throw_error();
    return store;
}

// address of the instance -> (weak reference to it, capsule of its Store). Lives for the process,
// like the interned names.
PyObject* g_registry = nullptr;
PyObject* g_forget = nullptr;

Ref registry_key(PyObject* self) { return Ref::steal(PyLong_FromVoidPtr(self)); }

// The weak reference's callback: the instance is being destroyed, its entries go with it.
Ref forget_instance_impl(PyObject*, const support::ArgValues& a) {
    if (!g_registry) return support::none();
    Ref found;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(g_registry, &pos, &key, &value)) {
        if (PyTuple_GET_ITEM(value, 0) == a[0]) {
            found = Ref::borrow(key);
            break;
        }
    }
    if (found) check(PyDict_DelItem(g_registry, found.get()));
    return support::none();
}

const support::FunctionDef forget_instance_def{
    "_forget_completion_cache", nullptr, nullptr,
    support::Signature("_forget_completion_cache", {{"ref"}}), forget_instance_impl};

// The capsule of the instance's Store; a new one when `create` is set and there is none yet,
// else an empty Ref.
Ref store_capsule(PyObject* module, PyObject* self, bool create) {
    if (!g_registry) {
        if (!create) return Ref();
        g_registry = PyDict_New();
        if (!g_registry) support::throw_error();
    }
    Ref key = registry_key(self);
    PyObject* found = nullptr;
    if (check(PyDict_GetItemRef(g_registry, key.get(), &found))) {
        Ref entry = Ref::steal(found);
        return Ref::borrow(PyTuple_GET_ITEM(entry.get(), 1));
    }
    if (!create) return Ref();
    if (!g_forget) g_forget = support::make_function(module, forget_instance_def).release();
    Ref weak = Ref::steal(PyWeakref_NewRef(self, g_forget));
    auto store = std::make_unique<Store>();
    Ref capsule = Ref::steal(PyCapsule_New(store.get(), kCapsuleName, destroy_store));
    store.release();
    Ref entry = Ref::steal(PyTuple_Pack(2, weak.get(), capsule.get()));
    check(PyDict_SetItem(g_registry, key.get(), entry.get()));
    return capsule;
}

// The characters an entry keeps alive: its texts, plus one so that empty entries count too.
Py_ssize_t size_of(PyObject* extras) {
    Py_ssize_t size = 1;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(extras, &pos, &key, &value)) {
        if (PyUnicode_Check(value)) size += PyUnicode_GET_LENGTH(value);
    }
    return size;
}

Py_ssize_t entry_size(PyObject* entry) { return PyLong_AsSsize_t(PyTuple_GET_ITEM(entry, 2)); }

void evict_over_limits(Store& store) {
    while (PyDict_GET_SIZE(store.entries.get()) > kCompletionCacheEntries ||
           store.characters > kCompletionCacheCharacters) {
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t pos = 0;
        if (!PyDict_Next(store.entries.get(), &pos, &key, &value)) break;
        Ref oldest = Ref::borrow(key);
        store.characters -= entry_size(value);
        check(PyDict_DelItem(store.entries.get(), oldest.get()));
    }
}

// `o` itself when it is None, True or False; anything else makes the item uncacheable.
bool plain_flag(PyObject* o) { return o == Py_None || o == Py_True || o == Py_False; }

}  // namespace

CompletionCache::CompletionCache(PyObject* module, PyObject* self) {
    guard(
        {PyExc_Exception},
        [&] {
            Ref capsule = store_capsule(module, self, true);
            Store* store = store_of(capsule.get());
            Ref generation = support::none();
            Ref temp_dir = get_attr(self, N.a_temp_dir);
            if (temp_dir.get() != Py_None) {
                Ref root = get_attr(temp_dir.get(), N.name);
                Ref os = lookup_global(module, N.g_os);
                generation = guard(
                    {PyExc_OSError},
                    [&] {
                        Ref stat = call_method(os.get(), N.stat, {root.get()});
                        return get_attr(stat.get(), N.st_mtime_ns);
                    },
                    [](PyObject*) { return support::none(); });
                Ref os_path = get_attr(os.get(), N.path);
                Ref sep = get_attr(os_path.get(), N.sep);
                user_prefix_ = add(root.get(), sep.get());
                if (!PyUnicode_Check(user_prefix_.get()))
                    support::raise(PyExc_TypeError, "module directory is not text");
            }
            if (!equals(generation.get(), store->generation.get())) {
                store->clear();
                store->generation = std::move(generation);
            }
            epoch_ = store->epoch;
            store_ = std::move(capsule);
            return 0;
        },
        [&](PyObject*) {
            store_.reset();
            return 0;
        });
}

void CompletionCache::attach(PyObject* script) {
    if (!store_) return;
    guard(
        {PyExc_Exception},
        [&] {
            script_path_ = get_attr(script, N.path);
            return 0;
        },
        [&](PyObject*) {
            store_.reset();
            return 0;
        });
}

CompletionCache::Key CompletionCache::key_for(PyObject* completion, PyObject* name) {
    if (!store_ || !script_path_) return {};
    return guard(
        {PyExc_Exception},
        [&]() -> Key {
            Ref jedi_name = get_attr_optional(completion, N.j_name);
            if (!jedi_name) return {};
            Ref wrapped = get_attr_optional(jedi_name.get(), N.j_wrapped_name);
            if (wrapped && get_attr_optional(wrapped.get(), N.j_wrapped_name)) return {};

            Ref anchor;
            Ref context;
            Ref full_lookup = support::none();
            Ref tree_name = get_attr_optional(jedi_name.get(), N.j_tree_name);
            if (tree_name && tree_name.get() != Py_None) {
                anchor = std::move(tree_name);
                context = call_method(jedi_name.get(), N.j_get_root_context, {});
            } else {
                // A submodule offered by an import: known by its parent module and its name.
                Ref parent = get_attr_optional(jedi_name.get(), N.j_from_module_context);
                if (!parent) return {};
                anchor = get_attr(parent.get(), N.j_tree_node);
                context = call_method(parent.get(), N.j_get_root_context, {});
                // From three typed characters on, jedi documents such names in full.
                Ref typed = call_method(completion, N.get_completion_prefix_length, {});
                full_lookup = support::boolean(compare_int(typed.get(), 3) >= 0);
            }
            if (anchor.get() == Py_None) return {};
            Ref file = call_method(context.get(), N.j_py__file__, {});
            if (file.get() == Py_None || equals(file.get(), script_path_.get())) return {};
            if (user_prefix_) {
                Ref file_text = str(file.get());
                const Py_ssize_t inside =
                    PyUnicode_Tailmatch(file_text.get(), user_prefix_.get(), 0, PY_SSIZE_T_MAX, -1);
                if (inside < 0) support::throw_error();
                if (inside) return {};
            }
            Ref decorators = get_attr_optional(jedi_name.get(), N.j_apply_decorators);
            if (!decorators) decorators = support::none();
            if (!plain_flag(decorators.get())) return {};

            // jedi answers attributes of a few big libraries from its own process-wide table,
            // which keeps the first answer it computed: items served from it form their own set.
            Ref jedi_table = get_attr_optional(completion, N.j_cached_name);
            if (!jedi_table) jedi_table = support::none();

            Ref address = Ref::steal(PyLong_FromVoidPtr(anchor.get()));
            PyObject* wrapped_type =
                wrapped ? reinterpret_cast<PyObject*>(Py_TYPE(wrapped.get())) : Py_None;
            Ref key = Ref::steal(PyTuple_Pack(
                7, reinterpret_cast<PyObject*>(Py_TYPE(jedi_name.get())), wrapped_type,
                address.get(), name, full_lookup.get(), decorators.get(), jedi_table.get()));
            return Key{std::move(key), std::move(anchor)};
        },
        [](PyObject*) { return Key{}; });
}

ItemFields CompletionCache::lookup(PyObject* key) {
    Store* store = store_of(store_.get());
    PyObject* entries = store->entries.get();
    PyObject* found = nullptr;
    if (!check(PyDict_GetItemRef(entries, key, &found))) return {};
    Ref entry = Ref::steal(found);
    // Most recently used last: eviction takes from the front.
    check(PyDict_DelItem(entries, key));
    check(PyDict_SetItem(entries, key, entry.get()));
    return {Ref::borrow(PyTuple_GET_ITEM(entry.get(), 0)),
            Ref::borrow(PyTuple_GET_ITEM(entry.get(), 1))};
}

void CompletionCache::store(const Key& key, const ItemFields& fields) {
    Store* store = store_of(store_.get());
    if (store->epoch != epoch_ || !PyDict_CheckExact(fields.extras.get())) return;
    const Py_ssize_t size = size_of(fields.extras.get());
    Ref size_obj = Ref::steal(PyLong_FromSsize_t(size));
    Ref entry = Ref::steal(
        PyTuple_Pack(4, fields.type.get(), fields.extras.get(), size_obj.get(), key.anchor.get()));
    PyObject* entries = store->entries.get();
    PyObject* previous = nullptr;
    if (check(PyDict_GetItemRef(entries, key.key.get(), &previous))) {
        Ref old = Ref::steal(previous);
        store->characters -= entry_size(old.get());
        check(PyDict_DelItem(entries, key.key.get()));
    }
    check(PyDict_SetItem(entries, key.key.get(), entry.get()));
    store->characters += size;
    evict_over_limits(*store);
}

void forget_completion_cache(PyObject* module, PyObject* self) {
    Ref capsule = store_capsule(module, self, false);
    if (capsule) store_of(capsule.get())->clear();
}

}  // namespace lintora
