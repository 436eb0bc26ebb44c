# Thin wrapper over CMake. `make demo` and `make test` install what they need
# (Debian packages) on first use.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

FUZZ_SECONDS ?= 60

.PHONY: deps build demo test sanitize-test tsan-test fuzz-smoke eval clean

deps:
	scripts/install-deps.sh

build: deps
	cmake -S . -B build -DKVD_WERROR=ON $(CMAKE_FLAGS)
	cmake --build build -j$(JOBS)

demo: build
	./build/bin/kvd-mute-end samples/kvd_sample.wav

test: build
	cd build && ctest --output-on-failure -j$(JOBS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize-test: deps
	cmake -S . -B build-asan -DKVD_WERROR=ON -DKVD_SANITIZE=ON -DKVD_BUILD_BENCH=OFF \
	  -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ctest --output-on-failure -j$(JOBS)

# The suite under ThreadSanitizer.
tsan-test: deps
	cmake -S . -B build-tsan -DKVD_WERROR=ON -DKVD_TSAN=ON -DKVD_BUILD_BENCH=OFF \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build-tsan -j$(JOBS)
	cd build-tsan && ctest --output-on-failure -j$(JOBS)

# Accuracy on the development corpus (docs/evaluation.md): builds the corpus
# into eval/corpus/ when it is missing, then scores the shipped configuration
# in the three modes on both halves; the tables land in eval/corpus/*.md.
EVAL_CORPUS ?= eval/corpus
EVAL_PYTHON ?= /usr/bin/python3
eval: build
	scripts/install-deps.sh sox espeak-ng alsa-utils python3-numpy \
	  asterisk-core-sounds-en-wav asterisk-core-sounds-es-wav asterisk-core-sounds-fr-wav asterisk-core-sounds-it-wav
	test -f $(EVAL_CORPUS)/manifest.tsv || $(EVAL_PYTHON) eval/make_corpus.py $(EVAL_CORPUS) --jobs $(JOBS)
	set -e; for mode in online offline multi; do \
	  $(EVAL_PYTHON) eval/run.py $(EVAL_CORPUS)/manifest.tsv --mode $$mode \
	    --out $(EVAL_CORPUS)/$$mode.jsonl --jobs $(JOBS); \
	  for split in tune heldout; do \
	    $(EVAL_PYTHON) eval/score.py $(EVAL_CORPUS)/manifest.tsv $(EVAL_CORPUS)/$$mode.jsonl \
	      --split $$split > $(EVAL_CORPUS)/$$mode-$$split.md; \
	    echo "== $$mode, $$split half"; head -3 $(EVAL_CORPUS)/$$mode-$$split.md; \
	  done; \
	done
# The libFuzzer targets (clang, ASan + UBSan), each run for FUZZ_SECONDS on
# its seed corpus; fails on any crash, leak, time-out or sanitizer report.
fuzz-smoke: deps
	cmake -S . -B build-fuzz -DKVD_WERROR=ON -DKVD_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVD_BUILD_TESTS=OFF -DKVD_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j$(JOBS)
	scripts/fuzz-run.sh build-fuzz/bin build-fuzz/run $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-tsan build-fuzz
