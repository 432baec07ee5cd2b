# Set-up and entry points. `make run` and `make test` install the Debian
# packages the build needs when they are missing, then configure and build
# with the CMake presets.

SHELL := /bin/bash
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
PACKAGES := cmake ninja-build g++ clang clang-format libclang-rt-14-dev googletest libgtest-dev libgmock-dev \
            libbenchmark-dev libbluetooth-dev libssl-dev libpng-dev libcli11-dev pkg-config
TEST_PRESETS := default asan tsan
# Only make windows and make test-windows need these: the MinGW-w64 cross
# compilers and Wine for running the 64-bit test programs.
WINDOWS_PACKAGES := g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64
WINDOWS_PRESETS := mingw-i686 mingw-x64

.PHONY: all deps deps-windows windows test-windows build run test bench format format-check clean

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

deps-windows:
	$(call install-missing,$(PACKAGES) $(WINDOWS_PACKAGES))

build-%: deps
	@[ -f build/$*/build.ninja ] || cmake --preset $*
	cmake --build --preset $*

build: build-default

run: build-default
	./build/default/tools/bluefin capture

test: deps format-check
	@set -e; for p in $(TEST_PRESETS); do \
	  echo "== $$p =="; \
	  [ -f build/$$p/build.ninja ] || cmake --preset $$p; \
	  cmake --build --preset $$p; \
	  ctest --preset $$p; \
	done

# Benchmarks, never part of make test: a Release build of the benchmark
# program alone, which ends with its table of ratios.
bench: deps
	@[ -f build/bench/build.ninja ] || cmake --preset bench
	cmake --build --preset bench
	./build/bench/bench/bluefin_bench

# The 32-bit and 64-bit Windows DLLs, cross-compiled with MinGW-w64.
windows: deps-windows
	@set -e; for p in $(WINDOWS_PRESETS); do \
	  echo "== $$p =="; \
	  [ -f build/$$p/build.ninja ] || cmake --preset $$p; \
	  cmake --build --preset $$p; \
	done

# The 64-bit suite under wine64, in a Wine prefix of its own under build/
# (cmake/wine_run.sh). This kernel cannot run 32-bit programs, so the 32-bit
# build is only built and inspected.
test-windows: windows
	ctest --preset mingw-x64

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

format-check:
	@git ls-files '*.h' '*.cpp' | xargs clang-format --dry-run --Werror && echo "Formatting is clean."

clean:
	rm -rf build
