# Wrapper around CMake. `make run` and `make test` work on a fresh machine:
# missing build packages are installed first (as root, with apt-get).

BUILD      ?= build
SAN_BUILD  ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD?= build-bench
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
SECONDS    ?= 60
SHARED     ?= ../shared

DEB_PACKAGES = cmake g++ zlib1g-dev libgtest-dev libbenchmark-dev python3
FUZZ_PACKAGES = clang libclang-rt-dev
PYTHON_PACKAGES = pybind11-dev python3-dev python3-pytest python3-setuptools python3-wheel python3-venv

# The Python package is built and tested when its headers are there
# (`make python-deps` installs them); the system's interpreter, which is the
# one Debian's pybind11 and pytest belong to.
PYTHON     ?= $(shell [ -x /usr/bin/python3 ] && echo /usr/bin/python3 || echo python3)
PYTHON_BINDINGS := $(shell [ -f /usr/include/pybind11/pybind11.h ] && $(PYTHON) -c \
  "import os, sysconfig; print('ON' if os.path.exists(os.path.join(sysconfig.get_paths()['include'], 'Python.h')) else 'OFF')" \
  2>/dev/null || echo OFF)
PYTHON_FLAGS = -DLKWORD_BUILD_PYTHON=$(PYTHON_BINDINGS) -DPython_EXECUTABLE=$(PYTHON)

PREFIX     ?= /usr/local

.PHONY: all deps python-deps build tool run install test sanitize fuzz bench accuracy clean

all: build

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else echo "missing packages:$$missing (run 'make deps' as root)"; exit 1; fi; \
	fi

python-deps:
	@missing=""; for p in $(PYTHON_PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else echo "missing packages:$$missing (run 'make python-deps' as root)"; exit 1; fi; \
	fi

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(PYTHON_FLAGS)

# Configured again each time, so that Python headers installed since are seen.
build: deps $(BUILD)/CMakeCache.txt
	cmake -S . -B $(BUILD) $(PYTHON_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# The tool alone: the tests and fuzz replays are left to `make test`.
tool: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target lkword_tool

run: tool
	@./scripts/run-samples.sh $(BUILD)/lkword testdata/samples

# The tool, the library, its headers, the man page, the CMake package and
# lkword.pc under PREFIX.
install: tool
	cmake --install $(BUILD) --prefix $(PREFIX)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLKWORD_SANITIZE=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

fuzz: deps
	@dpkg -s clang >/dev/null 2>&1 || { [ "$$(id -u)" = 0 ] && apt-get install -y -qq $(FUZZ_PACKAGES); }
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLKWORD_BUILD_FUZZ=ON \
	  -DLKWORD_SANITIZE=ON -DLKWORD_BUILD_TESTS=OFF -DLKWORD_BUILD_TOOL=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	./scripts/fuzz-all.sh $(FUZZ_BUILD) $(SECONDS)

# FORMATS, RUNS, ROUNDS and JSON=FILE go to bench/compare.sh; the generated
# PalmDoc books are kept in $(BENCH_BUILD)/books, since making them is slow.
bench: build
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DLKWORD_BUILD_BENCH=ON -DLKWORD_BUILD_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	FORMATS='$(FORMATS)' RUNS='$(RUNS)' ROUNDS='$(ROUNDS)' JSON='$(JSON)' \
	  ./bench/compare.sh $(BUILD)/lkword $(SHARED) $(BENCH_BUILD)/books

accuracy: build
	./scripts/accuracy.sh $(BUILD)/lkword $(SHARED)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)

# Truncated and bit-flipped copies of every test document, loaded by the
# sanitizer build of the tool. PER_FORMAT corpus files per format are added
# when $(SHARED)/corpus exists.
.PHONY: mutation check-memory
mutation: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLKWORD_SANITIZE=ON
	cmake --build $(SAN_BUILD) -j $(JOBS) --target lkword_tool
	python3 scripts/mutation-test.py --jobs $(JOBS) --per-format $${PER_FORMAT:-3} \
	  $$( [ -d $(SHARED)/corpus ] && echo --shared $(SHARED) ) $(SAN_BUILD)/lkword

# The Release tool under memcheck over the test documents and the documents
# of the corpus and the public corpus (the smallest PER_FORMAT of each format
# when it is set): any invalid access or definite leak fails; exit 1 and 3
# are the tool's own verdicts on a damaged or locked document.
check-memory: build
	@dpkg -s valgrind >/dev/null 2>&1 || { [ "$$(id -u)" = 0 ] && apt-get install -y -qq valgrind; }
	@n=$${PER_FORMAT:-100000}; skip='\.(md|py|sh|txt|json|png|password)$$'; \
	docs=$$(find testdata -type f | grep -Ev "$$skip" | sort); \
	if [ -d $(SHARED)/corpus ]; then for d in $(SHARED)/corpus/*/ $(SHARED)/corpus-public/*/; do \
	  docs="$$docs $$(ls -Sr $$d | grep -Ev "$$skip" | head -n $$n | sed "s|^|$$d|")"; done; fi; \
	total=0; bad=0; for f in $$docs; do total=$$((total+1)); \
	  valgrind -q --tool=memcheck --error-exitcode=99 --leak-check=full \
	    --errors-for-leak-kinds=definite $(BUILD)/lkword --json "$$f" >/dev/null 2>$(BUILD)/memcheck.log; \
	  rc=$$?; if [ $$rc -ne 0 ] && [ $$rc -ne 1 ] && [ $$rc -ne 3 ]; then bad=$$((bad+1)); \
	    echo "FAIL ($$rc) $$f"; head -n 30 $(BUILD)/memcheck.log; fi; \
	done; echo "memcheck: $$total documents, $$bad failed"; [ $$bad -eq 0 ]
