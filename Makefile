# The README's commands. `make demo` runs the built-in lab demo; `make test` installs what is
# needed, builds with every warning an error, and runs every test (the sanitizer build of the
# unit tests and a short run of every fuzz target included). `make fuzz` runs each fuzz target
# for FUZZ_SECONDS. `make package` builds the Debian package; `make package-test` (root)
# installs it on this machine, uses it as a fresh member of the group tarvik and purges it
# again. `make soak` (root) runs the load and fault runs over veth; SOAK=short is the form CI
# runs. `make windows` cross-builds the Windows programs; `make windows-test` runs their unit
# tests under Wine and them end to end; `make windows-package` writes the zip and installer.
BUILD ?= build
WINDOWS_BUILD ?= build-windows
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
JOBS ?= $(shell nproc)
SOAK ?= full
# ccache, where the machine has it, for every build below (CMake takes the launcher from the
# environment): with the clone's folder as its base and without the folder in the hash, the
# same sources hit the cache wherever they were cloned.
ifneq ($(shell command -v ccache),)
export CMAKE_CXX_COMPILER_LAUNCHER := ccache
export CMAKE_C_COMPILER_LAUNCHER := ccache
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
endif
# The scripts that need root end with 77 without it, as the CTest tests do: skipped, not failed.
ALLOW_SKIP = || { s=$$?; [ $$s -eq 77 ]; }

.PHONY: all bootstrap bootstrap-demo build demo test unit-test sanitize-test fuzz soak bench package \
	package-test windows windows-configure windows-test windows-package clean

all: build

bootstrap:
	bash scripts/bootstrap

# The demo's machine needs the Linux build only: no Windows toolchain, Wine, NSIS or X server.
bootstrap-demo:
	bash scripts/bootstrap demo

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The demo needs only the command line and the sample image.
demo: bootstrap-demo $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target tarvik-cli tarvik_sample_image
	bash scripts/demo $(BUILD)

unit-test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE e2e

sanitize-test: bootstrap
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVIK_SANITIZE=ON \
	  -DTARVIK_DESKTOP=OFF -DTARVIK_BENCHMARKS=OFF -DTARVIK_WERROR=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

fuzz: bootstrap
	bash scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

soak: build
	bash scripts/soak $(BUILD) $(SOAK) $(ALLOW_SKIP)

# CI's path. The tree builds without a warning and stays so: here every warning is an error
# (the option stays set in $(BUILD); -DTARVIK_WERROR=OFF clears it).
test: bootstrap $(BUILD)/build.ninja
	cmake -S . -B $(BUILD) -DTARVIK_WERROR=ON >/dev/null
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) package-test
	$(MAKE) windows-test
	$(MAKE) sanitize-test
	$(MAKE) fuzz FUZZ_SECONDS=15
	$(MAKE) soak SOAK=short

# Windows (64-bit), cross-built with MinGW-w64: the command-line programs and the unit tests.
# The libraries Debian has no MinGW-w64 build of (SQLite, OpenSSL, libpq, libsodium) are built
# from Debian's source packages by scripts/windows-deps, once per version, into a cache outside
# the tree ($(WINDOWS_DEPS_CACHE)); the build is told where they are on every run.
WINDOWS_DEPS_CACHE ?= $(HOME)/.cache/tarvik
windows-configure: bootstrap
	deps=$$(bash scripts/windows-deps $(WINDOWS_DEPS_CACHE) | tail -n 1) && \
	  cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DTARVIK_WERROR=ON \
	    -DTARVIK_WINDOWS_DEPS="$$deps" >/dev/null

windows: windows-configure
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The unit tests under Wine, then the Windows programs end to end (root: over veth, against
# the Linux programs and each other).
windows-test: windows build
	bash scripts/windows-test $(WINDOWS_BUILD) $(BUILD)

# tarvik-<version>-windows-x64.zip and tarvik-<version>-windows-x64-setup.exe (NSIS), into
# $(WINDOWS_BUILD)/.
windows-package: windows-configure build
	cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target windows-package
	$(call checksums,$(WINDOWS_BUILD),tarvik-*-windows-x64.zip tarvik-*-windows-x64-setup.exe)

# Each package target also writes a SHA256SUMS of what it built beside it, signed
# (SHA256SUMS.minisig) when RELEASE_KEY names a minisign secret key: `RELEASE_KEY=key make
# package` (the key's password is asked on the terminal, or taken from
# TARVIK_SIGNING_PASSWORD).
RELEASE_KEY ?=
checksums = cd $(1) && rm -f SHA256SUMS SHA256SUMS.minisig && sha256sum $(2) >SHA256SUMS \
	$(if $(RELEASE_KEY), && $(abspath $(BUILD))/tools/tarvik-mkimage sign SHA256SUMS \
	  --secret-key $(abspath $(RELEASE_KEY)) --comment "tarvik release checksums")

package: build
	cd $(BUILD) && cpack -G DEB
	$(call checksums,$(BUILD),tarvik_*_amd64.deb)

package-test: package
	bash tests/package/package_test.sh $(BUILD) $(ALLOW_SKIP)

bench: build windows
	bash scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD)
