# Zelmora: `make run` opens the program, `make test` runs every test, `make bench` the benchmarks.
JOBS ?= $(shell nproc)
BUILD ?= build
BUILD_SAN ?= build-sanitize
BUILD_THREAD ?= build-thread
CMAKE_FLAGS ?=

.PHONY: all deps build build-sanitize run test test-sanitize test-thread bench package check-build-depends clean

all: build

deps:
	@scripts/install-deps

# The main build takes the distribution's flags from dpkg-buildflags, with the hardening debian/rules
# asks for (stack protector, _FORTIFY_SOURCE, read-only relocations, bind-now), so that the packages
# made from it (its tests make them) are the source package's; only the debug information is left
# out, for time. Release's -O3 comes after their -O2.
HARDENING = $(shell sed -n 's/^export DEB_BUILD_MAINT_OPTIONS *= *//p' debian/rules)
DISTRO_FLAGS = export DEB_BUILD_MAINT_OPTIONS="$(HARDENING)" DEB_CXXFLAGS_MAINT_STRIP=-g; \
  if command -v dpkg-buildflags >/dev/null; then \
    export CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
           LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)"; fi;

$(BUILD)/CMakeCache.txt: | deps
	$(DISTRO_FLAGS) cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZELMORA_WERROR=ON $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/ui/zelmora

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

# The Debian source package and the packages zelmora and python3-zelmora, built by dpkg-buildpackage
# from debian/ into $(BUILD)/packages, and lintian's errors, warnings, notes and pedantic tags.
package: deps
	scripts/build-packages $(BUILD)/packages
	lintian --fail-on error,warning --display-info --pedantic $(BUILD)/packages/*.changes

# The source package built in a fresh Debian 12 root holding only its Build-Depends (root, the
# network and several minutes; not part of `make test`).
check-build-depends:
	scripts/check-build-depends $(BUILD)/build-depends

$(BUILD_SAN)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_SAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELMORA_SANITIZE=ON $(CMAKE_FLAGS)

build-sanitize: deps $(BUILD_SAN)/CMakeCache.txt
	cmake --build $(BUILD_SAN) -j $(JOBS)

test-sanitize: build-sanitize
	cd $(BUILD_SAN) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS) --timeout 900

# Worlds and the batch runner on several threads, under ThreadSanitizer; only what that test needs
# is built. GCC 12's TSan aborts on kernels with high ASLR entropy, so it runs without address
# randomisation where setarch allows that.
$(BUILD_THREAD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_THREAD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELMORA_TSAN=ON $(CMAKE_FLAGS)

test-thread: deps $(BUILD_THREAD)/CMakeCache.txt
	cmake --build $(BUILD_THREAD) -j $(JOBS) --target zelmora_sweep_thread_tests
	TSAN_OPTIONS=halt_on_error=1 $$(setarch "$$(uname -m)" -R true 2>/dev/null && echo setarch "$$(uname -m)" -R) \
	  timeout 600 $(BUILD_THREAD)/tests/sweep/zelmora_sweep_thread_tests

bench: build
	@set -e; for b in $(BUILD)/bench/*/zelmora_bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$b"; \
	  QT_QPA_PLATFORM=offscreen $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true; \
	done
	@echo "== the real window under Xvfb against a bare 1 ms timer"
	@xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb $(BUILD)/bench/ui/zelmora_window_rate 10

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_THREAD)
