# bash completion for tarvolacrypt                          -*- shell-script -*-

_tarvolacrypt()
{
    local cur prev words cword
    _init_completion || return

    local commands="encrypt decrypt reencrypt migrate scan"
    local command="" word
    for word in "${words[@]:1:cword-1}"; do
        case $word in
            encrypt | decrypt | reencrypt | migrate | scan) command=$word; break ;;
        esac
    done

    case $prev in
        --key-file | --new-key-file | --plan | --failures)
            _filedir
            return
            ;;
        --key-env | --new-key-env)
            COMPREPLY=($(compgen -v -- "$cur"))
            return
            ;;
        --mode)
            if [[ $command == encrypt ]]; then
                COMPREPLY=($(compgen -W "0 1" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "0 1 auto" -- "$cur"))
            fi
            return
            ;;
        --from-mode)
            COMPREPLY=($(compgen -W "0 1 auto" -- "$cur"))
            return
            ;;
        --to-mode)
            COMPREPLY=($(compgen -W "0 1" -- "$cur"))
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W "text json" -- "$cur"))
            return
            ;;
        --db-file)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --db-env)
            COMPREPLY=($(compgen -v -- "$cur"))
            return
            ;;
        --key | --db | --table | --column | --id | --where | --batch-size | --jobs | --lock-timeout | \
            --pause | --max-rate)
            return
            ;;
    esac

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    local common="--key-file --key-env --key --allow-empty-key --null -0 --line-buffered
        --jobs --strict --quiet --help --"
    local options
    case $command in
        encrypt) options="--mode $common" ;;
        decrypt) options="--mode --allow-binary $common" ;;
        reencrypt) options="--from-mode --to-mode --new-key-file --new-key-env --allow-binary
            $common" ;;
        migrate) options="--db --db-file --db-env --table --column --id --where --from-mode --to-mode
            --new-key-file --new-key-env --allow-binary --batch-size --dry-run --jobs --lock-timeout
            --key-file --key-env --key --allow-empty-key --quiet --help --plan --pause
            --max-rate --verbose" ;;
        scan) options="--db --db-file --db-env --table --column --id --where --plan --from-mode --to-mode
            --new-key-file --new-key-env --allow-binary --format --failures --null -0 --jobs
            --key-file --key-env --key --allow-empty-key --quiet --help" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    fi
} &&
    complete -F _tarvolacrypt tarvolacrypt

# ex: filetype=sh
