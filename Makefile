# Vantrel Server: build, run and test.
#   make run      build the Linux program and start it
#   make test     build both platforms and run every test (Linux, then Wine)
#   make asan     Linux tests under AddressSanitizer + UndefinedBehaviorSanitizer
#   make tsan     Linux tests under ThreadSanitizer
#   make windows  dist/vantrel.exe, statically linked
#   make package  dist/vantrel_<version>_<arch>.deb and dist/vantrel-<version>-win64.zip
#   make bench    bridge benchmark against socat (see bench/README.md)
#   make fuzz     each libFuzzer target for FUZZ_SECONDS (default 60), clang
#   make fuzz-ci  the same, 30 s each

JOBS   ?= $(shell nproc)
CMAKE  ?= cmake
CTEST  ?= ctest --output-on-failure -j$(JOBS)
GEN    := -G Ninja
VERSION := $(shell sed -n 's/^set(VANTREL_PRODUCT_VERSION \(.*\))$$/\1/p' packaging/CMakeLists.txt)

.PHONY: all deps run build test test-linux test-windows test-package asan tsan windows package bench fuzz fuzz-ci fuzz-build clean

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

# Seeds come from fuzz/corpus/<target>/ (kept in the tree, never written);
# what a run learns stays in build-fuzz/corpus/<target>/, a crash in
# build-fuzz/artifacts/.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := profile worker_args command_line report telnet_com_port allow_list

build-fuzz/build.ninja:
	./scripts/deps.sh fuzz
	CC=clang CXX=clang++ $(CMAKE) -S . -B build-fuzz $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_FUZZ=ON

fuzz-build: build-fuzz/build.ninja
	$(CMAKE) --build build-fuzz -j$(JOBS)

fuzz: fuzz-build
	@mkdir -p build-fuzz/artifacts
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t; \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s"; \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ./build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) \
	    -timeout=10 -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/$$t- \
	    build-fuzz/corpus/$$t fuzz/corpus/$$t 2>build-fuzz/fuzz_$$t.log \
	    || { tail -n 60 build-fuzz/fuzz_$$t.log; exit 1; }; \
	  grep -E "^stat::number_of_executed_runs|^Done" build-fuzz/fuzz_$$t.log || true; \
	done

fuzz-ci:
	$(MAKE) fuzz FUZZ_SECONDS=30

clean:
	rm -rf build build-win build-asan build-tsan build-fuzz dist
