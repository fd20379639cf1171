# The page's WebAssembly build: clang's wasm32 target over Debian's
# wasi-libc (packages clang, lld, wasi-libc, libc++-14-dev-wasm32,
# libclang-rt-14-dev-wasm32).  The module has no main: the page calls its
# exported functions.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-mexec-model=reactor -Wl,--strip-all")
