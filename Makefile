# Front door: make demo, make test. Everything else builds on these targets.
PACKAGES := cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev \
            nlohmann-json3-dev libpng-dev libfreetype-dev fonts-dejavu-core libclang-rt-14-dev \
            pkg-config python3 dpkg-dev clang-format \
            libespeak-ng-dev libpocketsphinx-dev pocketsphinx-en-us libasound2-dev qt6-base-dev libxkbcommon-dev \
            lighttpd nginx-light busybox mini-httpd webfs \
            libcpp-httplib-dev chromium chromium-driver python3-selenium sip-tester baresip liblinphone-dev libspandsp-dev \
            sox espeak-ng libflite1
GENERATOR = $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
# Most tests wait on processes, sockets and timers more than they compute: twice as many at once
# as there are cores keeps both busy. The sanitizers' runs, several times slower, take one per core.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 2 )))
CTEST := ctest --output-on-failure -j$(TEST_JOBS) --timeout 300
CTEST_SANITIZED := ctest --output-on-failure -j$(JOBS) --timeout 300

PREFIX ?= /usr/local

.PHONY: all help deps configure build test test-asan test-tsan bench fuzz demo demo-phone demo-sip sip-figures screenshots install uninstall package package-check format clean soak tests stress-calls

all: build

help:
	@echo "make            build everything (build/bin, build/modules)"
	@echo "make demo       build the host and the modules, and run the main example"
	@echo "make demo-phone a simulated phone call: Callwatch takes a message and forwards the caller's digits to loomwork"
	@echo "make demo-sip   a call over SIP on loopback: SIPp calls Callwatch's SIP line, speaks and presses 1 2 # *"
	@echo "make sip-figures  SIP answer time, 100 calls in a row, digit delay"
	@echo "make screenshots  PNGs of the Callwatch window, its call screens and dialogs, and the browser canvas (build/screenshots)"
	@echo "make test       build and run every test"
	@echo "make test-asan  the tests under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)"
	@echo "make test-tsan  the tests under ThreadSanitizer (build-tsan/)"
	@echo "make soak       SOAK_MINUTES (30) of loomwork under a flood of digits, a 1 ms Timer and a Player; fails if memory grows by more than 5%"
	@echo "make stress-calls  many simulated calls in a row under load (STRESS_ROUNDS, 200)"
	@echo "make bench      Release build of the benchmarks, and run them (build-bench/)"
	@echo "make fuzz       build the libFuzzer targets with clang and run each FUZZ_SECONDS (build-fuzz/)"
	@echo "make install    install into PREFIX (/usr/local): programs, modules, examples, headers, CMake package"
	@echo "make uninstall  remove what the last make install put into PREFIX (build/install_manifest.txt)"
	@echo "make package    a Debian package of the same (build/loomwork_*.deb)"
	@echo "make package-check  the package, and a check of the files in it"
	@echo "make deps       install the Debian packages the build needs (root or sudo)"
	@echo "make format     format every C++ source with clang-format (.clang-format)"
	@echo "make clean      remove every build folder"

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B build $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build build -j$(JOBS)

test: build
	cd build && $(CTEST)

tests: test

test-asan: deps
	cmake -S . -B build-asan $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DLOOMWORK_SANITIZE=address
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/cmake/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 $(CTEST_SANITIZED)

test-tsan: deps
	cmake -S . -B build-tsan $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DLOOMWORK_SANITIZE=thread
	cmake --build build-tsan -j$(JOBS)
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" $(CTEST_SANITIZED)

soak: build
	python3 tests/soak/soak.py build

# Many simulated calls in a row beside two busy loops: each call's digits reach loomwork once, in order.
STRESS_ROUNDS ?= 200
stress-calls: build
	cd build && CALLWATCH_STRESS_ROUNDS=$(STRESS_ROUNDS) ./bin/callwatch_programs_tests --gtest_filter='ProgramsTest.ManyCalls*'

bench: deps
	cmake -S . -B build-bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DLOOMWORK_BENCH=ON -DLOOMWORK_TESTS=OFF
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bin/bench_*; do echo "== $$b"; $$b; done

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOMWORK_FUZZ=ON
	cmake --build build-fuzz -j$(JOBS)
	@for f in build-fuzz/bin/fuzz_*; do \
	  name=$$(basename $$f); mkdir -p build-fuzz/corpus/$$name; \
	  echo "== $$name for $(FUZZ_SECONDS) s"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -timeout=10 build-fuzz/corpus/$$name fuzz/corpus/$${name#fuzz_} || exit 1; \
	done

install: build
	cmake --install build --prefix "$(PREFIX)"

uninstall:
	cmake -DMANIFEST=$(CURDIR)/build/install_manifest.txt -P cmake/LoomworkUninstall.cmake

package: build
	cd build && cpack -G DEB

package-check: package
	./tests/package-check.sh build

# The demo builds only what it runs: the host program and the module libraries.
demo: deps
	@[ -f build/CMakeCache.txt ] || cmake -S . -B build $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j$(JOBS) --target loomwork loomwork_modules
	./examples/run-demo.sh build

demo-phone: build
	./examples/phone/run-demo.sh build

# A call over SIP on loopback: SIPp calls Callwatch's SIP line, speaks and presses 1 2 # *.
demo-sip: build
	callwatch/tests/sip/demo-sip.sh build

# Answer time, 100 SIP calls in a row, digit delay.
sip-figures: build
	python3 callwatch/tests/sip/figures.py build --calls 100

screenshots: build
	QT_QPA_PLATFORM=offscreen build/bin/callwatch_screenshots build/screenshots
	/usr/bin/python3 host/app/canvas/tests/screenshot.py --loomwork build/bin/loomwork --modules build/modules \
	  || [ $$? -eq 77 ]

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
