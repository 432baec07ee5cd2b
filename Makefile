# Set-up and entry points. `make run` and `make test` install the Debian
# packages the build needs when they are missing, then configure and build
# with the CMake presets.

SHELL := /bin/bash
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# libsystemd-dev for the command's D-Bus calls to BlueZ; dbus-daemon and
# python3-dbusmock for its test, which runs BlueZ's mock on a bus of its own.
PACKAGES := cmake ninja-build g++ clang clang-format libclang-rt-14-dev libgtest-dev libgmock-dev \
            libbenchmark-dev libbluetooth-dev libssl-dev libpng-dev libcli11-dev pkg-config libsystemd-dev \
            dbus-daemon python3-dbusmock
TEST_PRESETS := default asan tsan
# Only make windows and make test-windows need these: the MinGW-w64 cross
# compilers, GoogleTest's sources (which the cross builds compile for
# Windows), and Wine with its 32-bit and 64-bit loaders for running the test
# programs (wine32 comes from the i386 architecture, which deps-windows adds).
WINDOWS_PACKAGES := g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest wine wine64 wine32:i386
# Only make fuzz, make memcheck and make coverage need these.
TOOL_PACKAGES := valgrind gcovr
FUZZ_TARGETS := response_frames_fuzzer image_part_fuzzer session_fuzzer
FUZZ_SECONDS ?= 600
PREFIX ?= /usr/local

.PHONY: all deps deps-windows deps-tools windows test-windows build run install test bench fuzz memcheck \
        coverage format format-check clean

all: build

# $(call install-missing,packages): installs those not yet installed.
define install-missing
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -q && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install-missing,$(PACKAGES))

# wine32 is an i386 package: on an amd64 machine that does not have the i386
# architecture yet, it is added first (and the package lists updated).
deps-windows:
	@if ! dpkg --print-foreign-architectures | grep -qx i386 && [ "$$(dpkg --print-architecture)" != i386 ]; then \
	  echo "Adding the i386 architecture for wine32"; \
	  $(SUDO) dpkg --add-architecture i386 && $(SUDO) apt-get update -q; \
	fi
	$(call install-missing,$(PACKAGES) $(WINDOWS_PACKAGES))

deps-tools:
	$(call install-missing,$(PACKAGES) $(TOOL_PACKAGES))

build-%: deps
	@[ -f build/$*/build.ninja ] || cmake --preset $*
	cmake --build --preset $*

build: build-default

run: build-default
	./build/default/tools/bluefin capture

# The command, the modules and the manual page under PREFIX (see README).
install: build-default
	cmake --install build/default --prefix $(PREFIX)

# The Linux suites, then the 32-bit and 64-bit Windows builds and their
# suites under Wine.
test: deps format-check
	@set -e; for p in $(TEST_PRESETS); do \
	  echo "== $$p =="; \
	  [ -f build/$$p/build.ninja ] || cmake --preset $$p; \
	  cmake --build --preset $$p; \
	  ctest --preset $$p; \
	done
	$(MAKE) --no-print-directory test-windows

# Benchmarks, never part of make test: a Release build of the benchmark
# program alone, which ends with its table of ratios.
bench: deps
	@[ -f build/bench/build.ninja ] || cmake --preset bench
	cmake --build --preset bench
	./build/bench/bench/bluefin_bench

# The 32-bit and 64-bit Windows builds, cross-compiled with MinGW-w64: the
# module DLLs, the framework and the test programs.
WINDOWS_PRESETS := mingw-i686 mingw-x64
windows: deps-windows
	@set -e; for p in $(WINDOWS_PRESETS); do \
	  [ -f build/$$p/build.ninja ] || cmake --preset $$p; \
	  cmake --build --preset $$p; \
	done

# Each suite under Wine (cmake/wine_run.sh): the 32-bit programs under the
# 32-bit loader, the 64-bit ones under wine64, each build in a Wine prefix of
# its own under build/.
test-windows: windows
	@set -e; for p in $(WINDOWS_PRESETS); do \
	  echo "== $$p under Wine =="; \
	  if [ $$p = mingw-i686 ] && { /usr/lib/wine/wine --version >/dev/null 2>&1; [ $$? -eq 126 ]; }; then \
	    echo "This machine's kernel runs no 32-bit x86 programs (Wine's 32-bit loader: Exec format error;"; \
	    echo "Linux booted with ia32_emulation=off). The 32-bit suite is built; its programs report skipped."; \
	  fi; \
	  ctest --preset $$p; \
	done

# Each libFuzzer target for FUZZ_SECONDS, from its committed corpus; new
# inputs go to build/fuzz/corpus, and those that reach new code are merged
# into fuzz/corpus afterwards. A crash input lands in fuzz/crashes/<target>/,
# where the replay tests of make test pick it up.
fuzz: deps
	@[ -f build/fuzz/build.ninja ] || cmake --preset fuzz
	cmake --build --preset fuzz
	@set -eo pipefail; for t in $(FUZZ_TARGETS); do \
	  echo "== $$t: $(FUZZ_SECONDS) s =="; \
	  mkdir -p build/fuzz/corpus/$$t fuzz/crashes/$$t; \
	  ASAN_OPTIONS=detect_leaks=0 ./build/fuzz/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -max_len=40000 \
	    -timeout=20 -print_final_stats=1 -artifact_prefix=fuzz/crashes/$$t/ build/fuzz/corpus/$$t fuzz/corpus/$$t \
	    2>&1 | tee build/fuzz/$$t.log | grep -E '(INITED|DONE)|finding|ERROR|stat::'; \
	  ASAN_OPTIONS=detect_leaks=0 ./build/fuzz/fuzz/$$t -merge=1 fuzz/corpus/$$t build/fuzz/corpus/$$t 2>&1 | tail -1; \
	done

# The integration suite under valgrind's memcheck; any error fails. The
# seeded races, host sessions and module cycles run fewer iterations: each is hundreds
# of times slower under valgrind.
MEMCHECK := VDM_HYGIENE_CYCLES=20 VDM_RACE_ITERATIONS=20 VDM_PATTERN_ITERATIONS=20 valgrind --error-exitcode=1 \
            --suppressions=tests/valgrind.supp --leak-check=full --errors-for-leak-kinds=definite \
            --show-leak-kinds=definite
memcheck: deps-tools build-default
	$(MEMCHECK) ./build/default/tests/module/module_tests
	$(MEMCHECK) ./build/default/tests/hygiene/hygiene_tests

# Line and branch coverage of the module's three folders by the whole suite:
# a summary here, the annotated sources in build/coverage/coverage.html. It
# fails below 97% of the lines or 93% of the branches; nothing is left out
# of the count, the radio backend included.
coverage: deps-tools
	@[ -f build/coverage/build.ninja ] || cmake --preset coverage
	cmake --build --preset coverage
	find build/coverage -name '*.gcda' -delete
	-ctest --preset coverage
	gcovr --root . --object-directory build/coverage build/coverage --exclude-directories build/coverage/CMakeFiles --filter 'module/' --filter 'bluefin/' --filter 'bluetooth/' \
	  --exclude-unreachable-branches --exclude-throw-branches --print-summary \
	  --fail-under-line 97 --fail-under-branch 93 \
	  --html-details build/coverage/coverage.html

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

format-check:
	@git ls-files '*.h' '*.cpp' | xargs clang-format --dry-run --Werror && echo "Formatting is clean."

clean:
	rm -rf build
