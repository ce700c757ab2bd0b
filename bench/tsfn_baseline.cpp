// The baseline of the Node delivery benchmark: a native thread queues
// records of tag changes, a batch per thread-safe call as the addon's
// receive thread does, and the JavaScript side calls the script's function
// with the same three arguments, without the core or a network in between.
//
// run(fn, nItems, nBatch, done): calls fn(driver, tag, value) nItems times,
// value 0, 1, ..., then done().
#define NAPI_VERSION 8
#include <node_api.h>

#include <thread>
#include <vector>

namespace {

struct SRun {
    napi_threadsafe_function tsfn = nullptr;
    napi_ref fn = nullptr;
    napi_ref done = nullptr;
    size_t nItems = 0, nBatch = 0, nDelivered = 0;
};

struct SBatch {
    std::vector<int> values;
};

void CallJs(napi_env env, napi_value, void* context, void* data) {
    SBatch* b = static_cast<SBatch*>(data);
    SRun* run = static_cast<SRun*>(context);
    if (env != nullptr) {
        napi_value fn, global, argv[3], result;
        napi_get_reference_value(env, run->fn, &fn);
        napi_get_global(env, &global);
        for (int v : b->values) {
            napi_create_string_utf8(env, "PLC1", 4, &argv[0]);
            napi_create_string_utf8(env, "count", 5, &argv[1]);
            napi_create_int32(env, v, &argv[2]);
            napi_call_function(env, global, fn, 3, argv, &result);
        }
        run->nDelivered += b->values.size();
        if (run->nDelivered == run->nItems) {
            napi_value done;
            napi_get_reference_value(env, run->done, &done);
            napi_call_function(env, global, done, 0, nullptr, &result);
            napi_delete_reference(env, run->fn);
            napi_delete_reference(env, run->done);
            napi_release_threadsafe_function(run->tsfn, napi_tsfn_release);
            delete run;
        }
    }
    delete b;
}

napi_value Run(napi_env env, napi_callback_info info) {
    size_t argc = 4;
    napi_value argv[4], name;
    napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
    SRun* run = new SRun;
    uint32_t n = 0, batch = 0;
    napi_get_value_uint32(env, argv[1], &n);
    napi_get_value_uint32(env, argv[2], &batch);
    run->nItems = n;
    run->nBatch = batch;
    napi_create_reference(env, argv[0], 1, &run->fn);
    napi_create_reference(env, argv[3], 1, &run->done);
    napi_create_string_utf8(env, "baseline", NAPI_AUTO_LENGTH, &name);
    napi_create_threadsafe_function(env, nullptr, nullptr, name, 64, 1, nullptr, nullptr, run,
                                    CallJs, &run->tsfn);
    // The last delivery frees run: the thread keeps its own copies.
    std::thread([tsfn = run->tsfn, nItems = run->nItems, nBatch = run->nBatch] {
        for (size_t i = 0; i < nItems;) {
            SBatch* b = new SBatch;
            for (size_t k = 0; k < nBatch && i < nItems; k++, i++)
                b->values.push_back(static_cast<int>(i));
            napi_call_threadsafe_function(tsfn, b, napi_tsfn_blocking);
        }
    }).detach();
    napi_value undefined;
    napi_get_undefined(env, &undefined);
    return undefined;
}

}  // namespace

extern "C" NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
    napi_value fn;
    napi_create_function(env, "run", NAPI_AUTO_LENGTH, Run, nullptr, &fn);
    napi_set_named_property(env, exports, "run", fn);
    return exports;
}
