#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ and runs
# every test under them (unit and window tests); then valgrind memcheck over the unit tests.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
build_dir=${BUILD_DIR:-build-asan}
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DTESSIVANE_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"

# Full stacks on every allocation, so the suppressions can match the library frames.
export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:halt_on_error=1:exitcode=86
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"

# memcheck over the unit tests of a plain build (valgrind and ASan do not mix)
plain=${PLAIN_BUILD_DIR:-build}
bash scripts/build.sh >/dev/null
status=0
for test in "$plain"/text/text_tests "$plain"/text/text_locale_test "$plain"/shell/sample_article_test \
            "$plain"/shell/page_files_test "$plain"/shell/user_article_test "$plain"/common/common_tests \
            "$plain"/cli/cli_tests; do
  [ -x "$test" ] || continue
  echo "== valgrind $(basename "$test")"
  valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    "$test" --gtest_brief=1 >/tmp/valgrind.$$.log 2>&1 || { status=1; cat /tmp/valgrind.$$.log; }
  tail -2 /tmp/valgrind.$$.log
done
rm -f /tmp/valgrind.$$.log
exit $status
