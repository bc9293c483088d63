# Every target works on a fresh Debian machine: tools/devenv provides CPython 3.14.
DEVENV := tools/devenv run
TESTS ?=
BENCH ?=

.PHONY: test sanitize bench leaks build shell clean

test:
	$(DEVENV) tools/test $(TESTS)

bench:
	$(DEVENV) python3.14 benchmarks/run.py $(BENCH)

leaks:
	$(DEVENV) tools/leaks $(or $(TESTS),tests)

sanitize:
	$(DEVENV) tools/sanitize $(TESTS)

build:
	$(DEVENV) true

shell:
	tools/devenv shell

clean:
	rm -rf build quibra/*.so
