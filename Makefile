# Front door: `make test` builds and runs every test, `sudo make run` builds
# and starts the monitor (ARGS="..." passes its arguments), `make install`
# installs it under PREFIX, `make deb` builds its Debian package. Where make
# itself is missing, `sh scripts/install-deps.sh` (as root) installs it with
# the rest.
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
WINDOWS_DIR ?= build-windows
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=
FUZZ_SECONDS ?= 20
PREFIX ?= /usr/local

.PHONY: all deps windows-deps configure build program run install deb test test-release test-asan test-fuzz \
	test-windows format clean

all: build

deps:
	@sh scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPKTWATCH_WERROR=ON

# Everything: the program, its documents and every test.
build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The program alone, all that running it needs; `make test` builds the rest.
program: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target pktwatch

run: program
	./$(BUILD_DIR)/pktwatch $(ARGS)

# The program in PREFIX/bin, its manual page in PREFIX/share/man/man1; a
# DESTDIR in the environment or on the command line is put before both
# (staging: make install DESTDIR=/tmp/stage).
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The Debian package, in $(BUILD_DIR)/: pktwatch_VERSION_ARCH.deb.
deb: build
	cpack -G DEB --config $(BUILD_DIR)/CPackConfig.cmake -B $(BUILD_DIR)
	@ls -t $(BUILD_DIR)/pktwatch_*.deb | head -n 1

test: test-release test-asan test-fuzz

test-release: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DPKTWATCH_SANITIZE=ON -DPKTWATCH_WERROR=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

# Each fuzz target for a bounded time (clang; installed when root).
test-fuzz:
	sh scripts/run-fuzz.sh $(FUZZ_SECONDS)

windows-deps:
	@sh scripts/install-windows-deps.sh

# The Windows executable, cross-built with mingw-w64, and every test run under
# Wine; the Linux build's pktwatch is there to compare output bytes with.
test-windows: windows-deps build
	cmake -S . -B $(WINDOWS_DIR) --toolchain cmake/mingw-w64-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPKTWATCH_WERROR=ON \
		-DPKTWATCH_LINUX_EXE=$(CURDIR)/$(BUILD_DIR)/pktwatch
	cmake --build $(WINDOWS_DIR) -j $(JOBS)
	ctest --test-dir $(WINDOWS_DIR) --output-on-failure -j $(JOBS)

format:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(WINDOWS_DIR) build-fuzz
