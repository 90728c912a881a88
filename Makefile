# Vantrel Server: build, run and test.
#   make run      build the Linux program and start it
#   make test     build both platforms and run every test (Linux, then Wine)
#   make asan     Linux tests under AddressSanitizer + UndefinedBehaviorSanitizer
#   make tsan     Linux tests under ThreadSanitizer
#   make windows  dist/vantrel.exe, statically linked
#   make package  dist/vantrel_<version>_<arch>.deb and dist/vantrel-<version>-win64.zip
#   make bench    bridge benchmark against socat (see bench/README.md)

JOBS   ?= $(shell nproc)
CMAKE  ?= cmake
CTEST  ?= ctest --output-on-failure -j$(JOBS)
GEN    := -G Ninja
VERSION := $(shell sed -n 's/^set(VANTREL_PRODUCT_VERSION \(.*\))$$/\1/p' packaging/CMakeLists.txt)

.PHONY: all deps run build test test-linux test-windows test-package asan tsan windows package bench clean

all: build

deps:
	@./scripts/deps.sh

build/build.ninja: | deps
	$(CMAKE) -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps build/build.ninja
	$(CMAKE) --build build -j$(JOBS)

run: build
	./build/vantrel

test: test-linux test-windows test-package

test-linux: build
	cd build && $(CTEST)

build-win/build.ninja: | deps
	$(CMAKE) -S . -B build-win $(GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

test-windows: deps build-win/build.ninja
	$(CMAKE) --build build-win -j$(JOBS)
	cd build-win && $(CTEST)

windows: deps build-win/build.ninja
	$(CMAKE) --build build-win -j$(JOBS) --target vantrel
	mkdir -p dist && cp build-win/vantrel.exe dist/vantrel.exe

package: build windows
	$(CMAKE) --build build -j$(JOBS)
	rm -rf build/packages
	cd build && cpack -G DEB
	rm -f dist/vantrel_*.deb dist/vantrel-$(VERSION)-win64.zip
	cp build/packages/vantrel_*.deb dist/
	zip -q -j -X dist/vantrel-$(VERSION)-win64.zip dist/vantrel.exe
	zip -q -j -X -l dist/vantrel-$(VERSION)-win64.zip packaging/windows/README.txt

# The package checks of the Linux tests, with the packages just made.
test-package: package
	cd build && $(CTEST) -L package

asan: deps
	$(CMAKE) -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=address,undefined
	$(CMAKE) --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

tsan: deps
	$(CMAKE) -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=thread
	$(CMAKE) --build build-tsan -j$(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 $(CTEST)

bench: build
	./bench/run.sh

clean:
	rm -rf build build-win build-asan build-tsan dist
