# Two commands on a fresh Debian machine:
#   make run    install what is missing, build the two programs (psex and
#               psex-import, not the tests), run psex on the shipped example
#   make test   the same set-up and what the tests need (R among it), then
#               build everything (the tests and the benchmark programs,
#               which are built but not run) and run the whole test suite
#               (with the format check of every C++ file and the R tests of
#               psex-plot and of the tidy files), then the suite again (but
#               those checks) in a clang build with AddressSanitizer and
#               UndefinedBehaviorSanitizer that also holds the fuzz target,
#               which replays its corpus (tests/fuzz/README.md), and last the
#               tests of threads, simulation and lineages in a clang build
#               with ThreadSanitizer
# and then, to install the programs, their manual pages and the picture
# program psex-plot (an R script; 'make install' does not install R):
#   make install                  into /usr/local (or PREFIX=/some/where)
#   make install DESTDIR=/stage   the same tree below /stage, for packaging
# and, for measuring speed and memory only: 'make bench' (bench/README.md)
#
# Only Debian's packages are used.  'apt-get update' runs only when a package
# is missing, so a machine that has everything is not touched.  The tests
# also need python3 (the independent checker of tests/tools), clang with its
# sanitizer and fuzzer runtimes, clang-format (the format check), R
# (r-base-core: psex-plot and the tidy files read in R) and groff (the
# manual pages render).  A test whose tool is missing fails rather than
# being left out.

# libcsv-dev and libcli11-dev: the CSV layer and the command line of psex-import.
PACKAGES      := cmake ninja-build g++ libboost-dev libgtest-dev libcsv-dev libcli11-dev
# libclang-rt-dev follows Debian's default clang, whatever its version.
# r-base-core without its recommendations: base R is all psex-plot uses.
TEST_PACKAGES := python3 clang libclang-rt-dev clang-format r-base-core groff-base
BUILD         := build
SANITIZE      := build-sanitize
TSAN          := build-tsan
EXAMPLE       := examples/seagrass.txt
SUDO          := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# Warnings are errors in every build (CI included).  A newer compiler that
# finds something new to warn about can be told to go on: make run WERROR=OFF
WERROR        ?= ON
# No test may hang a CI run: one that takes this long has failed.
CTEST         := ctest --output-on-failure -j2 --timeout 600

.PHONY: run test install bench deps test-deps configure programs build sanitize-configure \
	sanitize tsan-configure tsan clean

run: programs
	rm -rf $(BUILD)/run && mkdir -p $(BUILD)/run
	cd $(BUILD)/run && ../psex ../../$(EXAMPLE)
	@echo "Result files are in $(BUILD)/run:" && ls $(BUILD)/run

test: test-deps build sanitize tsan
	$(CTEST) --test-dir $(BUILD)
	$(CTEST) --test-dir $(SANITIZE)
	$(CTEST) --test-dir $(TSAN) -L threads

install: programs
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix "$(PREFIX)")

# The benchmark (bench/README.md), never part of 'make test': it builds its
# own Release tree in build-bench/ and prints a table of times and memory.
# Options go in BENCH_ARGS, for example: make bench BENCH_ARGS=--quick
BENCH_ARGS :=
bench: build
	$(call install-missing,time)
	bench/run.sh $(BENCH_ARGS)

# install-missing: install those of the packages named in $(1) that are not
# installed yet.
define install-missing
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install-missing,$(PACKAGES))

test-deps: deps
	$(call install-missing,$(TEST_PACKAGES))

# The benchmark programs are configured here too, so that 'make test'
# builds them; 'make run' builds only the two programs.
configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPSEX_WERROR=$(WERROR) \
	  -DPSEX_BENCH=ON >/dev/null

programs: configure
	cmake --build $(BUILD) --target psex psex-import

build: configure
	cmake --build $(BUILD)

sanitize-configure: test-deps
	@CXX=clang++ cmake -S . -B $(SANITIZE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPSEX_SANITIZE=ON -DPSEX_FUZZ=ON -DPSEX_WERROR=$(WERROR) >/dev/null

sanitize: sanitize-configure
	cmake --build $(SANITIZE)

# ThreadSanitizer: only the tests of threads, simulation and lineages (the
# target thread-tests, with psex for the end-to-end one) are built and run.
tsan-configure: test-deps
	@CXX=clang++ cmake -S . -B $(TSAN) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPSEX_THREAD_SANITIZE=ON -DPSEX_WERROR=$(WERROR) >/dev/null

tsan: tsan-configure
	cmake --build $(TSAN) --target thread-tests

clean:
	rm -rf $(BUILD) $(SANITIZE) $(TSAN)
