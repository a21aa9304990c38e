# Everything a fresh Debian machine needs: `make run` and `make test`.
BUILD      ?= build/release
BUILD_ASAN ?= build/asan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
# CI builds treat every warning as an error; locally a new compiler's new
# warning should not stop a build.
WERROR     ?= $(if $(CI),ON,OFF)
FORMATTED  := find src tests bench fuzz -name '*.cpp' -o -name '*.h'

.PHONY: all deps build build-asan run test test-release test-asan clean format format-check \
        bench fuzz install package

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTRELVI_WERROR=$(WERROR)

$(BUILD_ASAN)/build.ninja:
	cmake -S . -B $(BUILD_ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTRELVI_SANITIZE=ON \
	  -DTRELVI_WERROR=$(WERROR)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(BUILD_ASAN)/build.ninja
	cmake --build $(BUILD_ASAN) -j $(JOBS)

run: build
	@if [ -x $(BUILD)/trelvi-gui ]; then $(BUILD)/trelvi-gui; else $(BUILD)/trelvi --help; fi

test-release: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(BUILD_ASAN) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# Both builds must pass; the sanitizer run catches what the release run hides.
test: format-check test-release test-asan

# Installs the programs, the menu entry, icons, AppStream metainfo and the
# man page under PREFIX (DESTDIR is honoured for staged installs).
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, $(BUILD)/package/trelvi-tools_<version>_<arch>.deb, its
# dependencies computed from the shared libraries the programs link.
package: build
	cpack --config $(BUILD)/CPackConfig.cmake -B $(BUILD)/package
	@ls $(BUILD)/package/*.deb

# libFuzzer with clang, ASan and UBSan: every target runs FUZZ_SECONDS from
# seeds the engine writes; any crash, leak or sanitizer report fails.
FUZZ_BUILD   ?= build/fuzz
FUZZ_SECONDS ?= 60
fuzz:
	@EXTRA_PACKAGES="clang libclang-rt-14-dev" bash scripts/install-deps.sh
	cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DTRELVI_FUZZ=ON \
	  -DTRELVI_BUILD_GUI=OFF -DTRELVI_BUILD_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_all
	bash scripts/make-fuzz-seeds.sh $(FUZZ_BUILD)
	bash scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The speed and memory of our command line next to libvips, libtiff's tools
# and GDAL on the same machine (run by hand; see bench/run.sh for settings).
bench:
	@EXTRA_PACKAGES="libvips-tools libtiff-tools gdal-bin python3-gdal" bash scripts/install-deps.sh
	$(MAKE) build
	cmake --build $(BUILD) -j $(JOBS) --target bench_make_image
	bash bench/run.sh

format:
	$(FORMATTED) | xargs clang-format -i

# Fails, naming the files, when any source differs from clang-format's layout.
format-check: deps
	@$(FORMATTED) | xargs clang-format --dry-run -Werror

clean:
	rm -rf build
